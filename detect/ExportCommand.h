#pragma once
// The export on the command line:
//
//   zorvenix --export PAIR.dsc --camera N [--object N] [--from T] [--to T]
//            [--h264] [--quality Q] OUT
//
// --camera 0 exports all cameras tiled.  T is local time "YYYY-MM-DD
// HH:MM:SS" (or "YYYY-MM-DD HH:MM", "YYYY-MM-DD"); --to takes in the whole
// second, minute or day it names.  Progress goes to standard output, one
// line per percent; the exit status is 0 when the clip is written, 1 when
// the export failed, 2 for a malformed command line and 130 when it was
// interrupted.  No display is needed.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "detect/ClipExport.h"

namespace zv {

// True when the arguments ask for an export (any of them is "--export").
bool IsExportCommand(const std::vector<std::string>& args);
// The usage lines of the export.
const char* ExportUsage();
// Parses the arguments after the program's name; false, with the reason in
// error, on an unknown option, a missing or malformed value, or no output.
bool ParseExportCommand(const std::vector<std::string>& args, ClipExportRequest& out,
                        std::string& error);
// Runs the export, printing progress to out and the outcome to out or err;
// returns the exit status.  interrupted, when set, cancels the export.
int RunExportCommand(const ClipExportRequest& request, IClipWriterFactory& writers, std::FILE* out,
                     std::FILE* err, const std::atomic<bool>* interrupted = nullptr);

}  // namespace zv
