// The main form's hidden settings panel (GroupBox2) and progress panel
// (Panel2): their controls' ids and table. None is ever visible; their
// handlers (hidden_panel.cpp) carry the values into the camera, and the
// camera's events write the area and the save's progress back into them.
#pragma once

#include <vector>

#include "win32/controls.h"

namespace kelvora {

enum ControlId {
    GroupBox2 = 100,
    ComboBox1,  // video priority
    ComboBox2,  // filter colour
    ComboBox3,  // colour mode
    CheckBox1,
    CheckBox3,
    CheckBox4,
    CheckBox5,
    CheckBox6,
    CheckBox8,
    CheckBox9,
    Edit5,
    Edit6,
    Edit7,
    UpDown5,
    UpDown6,
    UpDown7,
    Edit1,  // top
    Edit2,  // left
    Edit3,  // width
    Edit4,  // height
    UpDown1,
    UpDown2,
    UpDown3,
    UpDown4,
    RadioGroup1,
    RadioFixed,
    RadioFull,
    Panel2,
    Progress,
    LStatus,
    BCancel,
};

const std::vector<ControlSpec>& HiddenPanels();

}  // namespace kelvora
