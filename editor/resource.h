// Resource and command ids of the application shell. The values are the ones the menus,
// accelerators and tests agree on, so they keep their historical numbers.
#pragma once

// Resources.
constexpr int IDR_MAINFRAME = 128; // frame menu, accelerators, icon and title
constexpr int IDD_ABOUTBOX = 100;

// Strings.
constexpr int IDP_OLE_INIT_FAILED = 100;
constexpr int IDS_APP_TITLE = 128;
constexpr int AFX_IDS_APP_TITLE = 57344;
constexpr int AFX_IDS_IDLEMESSAGE = 57345;
constexpr int IDS_UNTITLED = 129;     // the name of a terrain with no file
constexpr int IDS_SAVE_CHANGES = 130; // the question before changes are discarded
constexpr int IDS_UNDONE = 131;       // status bar after an undo; %1 the step
constexpr int IDS_REDONE = 132;       // after a redo

// Commands handled by the 3D view.
constexpr int ID_LOAD_TEXTURE = 32772;
constexpr int ID_SAVE_MAP = 32774;
constexpr int ID_LOAD_MAP = 32777;

// Framework commands.
constexpr int ID_EDIT_COPY = 57634;
constexpr int ID_EDIT_CUT = 57635;
constexpr int ID_EDIT_PASTE = 57637;
constexpr int ID_EDIT_UNDO = 57643;
constexpr int ID_EDIT_REDO = 57644;
constexpr int ID_FILE_SAVE_AS = 57604;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_NEXT_PANE = 57680;
constexpr int ID_PREV_PANE = 57681;
constexpr int ID_VIEW_STATUS_BAR = 59393;

// Child window ids of the frame.
constexpr int AFX_IDW_PANE_FIRST = 0xE900;
constexpr int AFX_IDW_PANE_LAST = 0xE9FF;
constexpr int AFX_IDW_STATUS_BAR = 0xE801;

// Status-bar indicators.
constexpr int ID_SEPARATOR = 0;
constexpr int ID_INDICATOR_CAPS = 0xE701;
constexpr int ID_INDICATOR_NUM = 0xE702;
constexpr int ID_INDICATOR_SCRL = 0xE703;
