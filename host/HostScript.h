// The script mode of the stand-in host: one statement a line, run in order, so that a test or a
// user can chain calls on the objects that come back, as a host program does.
//
//   name = Module.function(arguments)      module functions
//   name = Class.method(arguments)         shared methods; Class.Constructor(...) makes an instance
//   name = object.method(arguments)        instance methods
//   name = object.property                 property values; Class.constant, Class.sharedProperty
//                                          and Module.constant too
//   name = literal | variable
//   object.property = value
//   object.method(arguments) = value       methods that can be assigned to
//   object.method(arguments)               a call whose result is not kept
//   print expression
//   App.DoEvents(milliseconds)             runs the event loop (every plug-in's timers) for a time
//   class Name inherits Super              a subclass of a registered class whose subs override
//   sub Method(p as type, ...)             methods of that declaration: a plug-in that looks the
//   ...statements...                       method up on an instance (REALLoadObjectMethod) runs
//   end sub                                the sub, which sees `self` and its parameters only
//   end class
//
// Arguments and values are literals (strings in double quotes, with "" for a quote; integers;
// doubles; true, false, nil) or variables; they are converted by the declaration of the chosen
// overload, a string where a folderitem is declared being its path. Blank lines and lines that
// start with # are skipped.
//
// An error (a statement that cannot be read or run, or an exception raised by a call) names the
// line and its statement and ends the run. At the end every variable is let go; objects or strings
// still alive then were kept by someone who should have let them go, and fail the run.
#pragma once

#include "HostRuntime.h"

#include <istream>
#include <ostream>
#include <string>

namespace sylhost {

// 0 when every statement ran and nothing was left alive; 1 when a call raised an exception; 2 for
// any other error.
int runScript(HostRuntime& host, std::istream& script, std::ostream& out, std::ostream& err);

} // namespace sylhost
