// Resource identifiers shared by the resource script and the program.
#pragma once

// The application and tray icon (nine pictures: 16, 32, 48 pixels).
#define IDI_KELVORA 100
// The same icon with a red dot, for the tray while a recording runs.
#define IDI_KELVORA_RECORDING 101
// The menu's images, a strip of 16x16 32-bit pictures: 0 the application,
// 1 About, 2 Record, 3 Stop, 4 Settings.
#define IDB_MENU_IMAGES 110
#define MENU_IMAGE_SIZE 16
