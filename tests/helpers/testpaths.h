#pragma once

#include <QString>

// Locations known when the tests were built.
namespace TestPaths {
QString sourceDir(); // the repository's root
QString executable(const QString &name); // in build/bin
} // namespace TestPaths
