#pragma once

#include "publish/PublishSession.h"

namespace zor::publish {

// "Синхронизироваться": brings the published title index and the pages it counts back from
// the server into the open site and rebuilds the page list from them. Everything is first
// fetched into a temporary folder; local files are replaced only once all of it has arrived,
// so a failure (a page missing on the server) leaves the site as it was. A server index that
// lists no page changes nothing. Returns the number of page list entries afterwards.
int synchronise(PublishJob& job);

}  // namespace zor::publish
