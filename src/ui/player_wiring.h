#pragma once
// The timer's player poll and the player window's creation, wired to the playback handlers.

class QWidget;
struct MainForm;

// Wires the playback handlers to the main window's components and gives the player controller
// the player and sponsor windows. Call after the main window's components exist; later calls for
// the same window do nothing. GUI thread.
void wirePlayback(MainForm& form);

// Destroys the player window if it exists (the main window's closing). GUI thread.
void destroyPlayerWindow();
