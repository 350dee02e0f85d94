#pragma once

// The ids of the program's resources, shared by res/parlino.rc and the code.
// Plain macros: windres reads this file too.

// The host window's large icon; also the tray icon's fallback.
#define IDI_APP 101
// The small icon: the host window's and the tray's.
#define IDI_APP_SMALL 102
// The contact dialog's picture, a square PNG (RCDATA).
#define IDR_CONTACT_IMAGE 103
// The tray's icon while a phone is connected: the small icon's drawing with
// a green dot.
#define IDI_TRAY_CONNECTED 104
