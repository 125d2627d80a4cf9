#pragma once
// Brings a session's tab to the front of the main window, and the main
// window to the front of the desktop (the fleet's windows open sessions so).

class CVGLDoc;

void ShowSessionTab(CVGLDoc* session);
