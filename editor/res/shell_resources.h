// The shell's resources as data: string table, menu 128 and accelerator table 128.
#pragma once

#include <QKeySequence>
#include <QString>

#include <vector>

// The string with this id, or an empty string for an unknown id.
QString LoadResString(int id);

struct MenuItemResource {
    const char* text; // UTF-8; a tab separates the accelerator hint; null for a separator
    int id;
};

struct MenuPopupResource {
    const char* text;
    std::vector<MenuItemResource> items;
};

// Menu 128: the frame's menu bar, popups in order.
const std::vector<MenuPopupResource>& MainFrameMenu();

struct AcceleratorResource {
    QKeySequence keys;
    int id;
};

// Accelerator table 128.
const std::vector<AcceleratorResource>& MainFrameAccelerators();
