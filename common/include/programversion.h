#pragma once

// "--version" of every program: the version is the project's, set in the top CMakeLists.
namespace ProgramVersion {

// The project's version, such as "0.1".
const char *text();

// When "--version" is the only argument, prints "<program> <version>" on standard output
// and answers true: the program then ends with status 0 before anything else starts.
bool printIfAsked(const char *program, int argc, char *argv[]);

} // namespace ProgramVersion
