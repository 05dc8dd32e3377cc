#pragma once
// "zorvenix --export ...": clip export from the command line, run before Qt
// starts, so that it needs no display.
namespace zv::ui {

// True when the command line asks for an export.
bool ExportAsked(int argc, char** argv);
// Runs the export the command line asks for; returns the exit status.
int ExportMain(int argc, char** argv);

}  // namespace zv::ui
