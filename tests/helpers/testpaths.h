#pragma once

#include <QString>

// Locations known when the tests were built.
namespace TestPaths {
QString sourceDir(); // the repository's root
QString binDir(); // where the executables are (build/bin)
QString executable(const QString &name);
} // namespace TestPaths
