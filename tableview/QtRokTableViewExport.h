#pragma once

#include <QtGlobal>

// Set by CMake while the library itself is being built.
#if defined(QtRokTableView_EXPORTS)
#define QTROKTABLEVIEW_EXPORT Q_DECL_EXPORT
#else
#define QTROKTABLEVIEW_EXPORT Q_DECL_IMPORT
#endif
