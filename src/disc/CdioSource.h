// libcdio's handle for a drive or a disc image, shared by the files of the disc-access layer.
// Only the library's own sources include this header: libcdio is linked privately.
#pragma once

#include <QString>

#include <cdio/cdio.h>

#include <memory>

namespace albumora::disc::detail {

struct CdioCloser {
    void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using CdioHandle = std::unique_ptr<CdIo_t, CdioCloser>;

// Opens a CD device node or a disc image (.cue, .toc, .nrg) by the driver of its kind; empty
// when libcdio refuses it. libcdio's own log lines are silenced.
CdioHandle OpenCdSource(const QString& path);

}  // namespace albumora::disc::detail
