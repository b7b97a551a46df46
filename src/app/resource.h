#pragma once
// Ids shared by the resource script and the code. The icon ids are those of
// each group's 32-pixel image; the smaller images have id * 100 + size.
#define IDI_MAINICON_IMAGE 1
#define IDI_ERROR_IMAGE 50
#define IDI_NOTCONNECTED_IMAGE 51
#define IDI_RECEIVE_IMAGE 52
#define IDM_SETTINGS 100
#define IDM_EXIT 200
#define IDM_KEYPAD 300
#define IDS_KEYPAD_MENU 300
