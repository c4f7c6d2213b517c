#include "Prompts.h"

namespace albumora::platform {

Desktop& desktop() {
    static Desktop d;
    return d;
}

}  // namespace albumora::platform
