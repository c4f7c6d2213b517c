// A laid-out report as a PDF file: Letter pages, written beside the file's name and put in
// place only when complete.
#pragma once

#include "Banded.h"
#include "Status.h"

namespace albumora::reports {

// pageDone is told after each page and may stop the run (nothing is written then).
store::Status WritePdf(const Document& doc, const QString& path, const std::function<bool(int done, int total)>& pageDone = {});

}  // namespace albumora::reports
