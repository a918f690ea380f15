// The camera's windows on Windows (camera_windows.h); `owner` is the owner
// form's window (may be null).
#pragma once

#include <memory>

#include "engine/camera_windows.h"

class TScreenCamera;

std::unique_ptr<CameraWindows> CreateWinCameraWindows(TScreenCamera& camera, void* owner);
