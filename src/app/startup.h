#pragma once

// Start-up settings shared by main() and the program's tests, so the tests
// check the window exactly as the program shows it.

// The view draws with fixed-function vertex arrays, which need a compatibility
// context. Must run before the application object exists.
void setDefaultSurfaceFormat();

// Names the application "Velloran" and gives it the project's version. The display name as well,
// which makes the window title read "<file> — Velloran" on X11 (the title alone would show only the
// file name there).
void nameApplication();
