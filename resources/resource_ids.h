/* Identifiers of the launcher's resources; read by the resource compiler and by C++. */
#pragma once

#define IDI_LAUNCHER 196
#define IDS_TITLE 103

#define IDP_BACKGROUND_FIRST 203 /* 203-208: six backgrounds, one chosen per run */
#define IDP_BACKGROUND_COUNT 6
#define IDP_LOGO 214
#define IDP_LOWER_PANEL 199
#define IDP_START_BUTTON 168
#define IDP_START_BUTTON_PRESSED 171
#define IDP_PROGRESS_TRACK 198
#define IDP_PROGRESS_FILL 197
