#include "crawl/url.h"

namespace ormbrook {
// Implementation follows.
} // namespace ormbrook
