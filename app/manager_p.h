#pragma once

// Shared by the source files of manager only.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcController)
