#pragma once
// A minimal main window until the full one is built: shows the program folder,
// the settings in force and the current project.

#include "app/KXConfigApp.h"

void RunPlaceholderMainWindow(CKXConfigApp& app);
