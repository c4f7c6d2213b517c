// A laid-out report as a PDF file: Letter pages, written beside the file's name and put in
// place only when complete.
#pragma once

#include "Banded.h"
#include "Status.h"

namespace albumora::reports {

store::Status WritePdf(const Document& doc, const QString& path);

}  // namespace albumora::reports
