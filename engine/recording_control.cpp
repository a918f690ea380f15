// Starting recordings and the region modes. The camera's timer, frame
// window, selection windows and hot keys join this file with the area
// tracking.
#include "engine/camera_platform.h"
#include "engine/screen_camera.h"

std::atomic<bool> PendingStart{false};

bool TScreenCamera::StartRecording(const std::string& FileName) {
    if (FRecording || FRecordThread != nullptr) {
        return false;
    }
    RecordFileName = FileName;
    ApplyRegionMode();
    if (FSelectRegionPending || FPickWindowPending) {
        // The area is chosen in a selection window first.
        PendingStart = true;
        return false;
    }
    PendingStart = false;
    if (FFullScreen) {
        FLeft = 0;
        FTop = 0;
        std::int32_t w = 0, h = 0;
        platform_.ScreenSize(&w, &h);
        FWidth = w;
        FHeight = h;
    }
    FRecording = true;
    FRecordThread = new TRecordAVIThread(this);
    return true;
}

void TScreenCamera::ApplyRegionMode() {
    const std::uint8_t mode = FRegionType;
    if (mode > 4) {
        return;
    }
    FPickWindowPending = mode == 0;
    FSelectRegionPending = mode == 1;
    FFollowMouse = mode == 2;
    FFullScreen = mode == 4;
}

