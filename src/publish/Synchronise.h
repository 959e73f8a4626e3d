#pragma once

#include "publish/PublishSession.h"

namespace zor::publish {

// "Синхронизироваться": brings the published title index and the pages it counts back from
// the server into the open site and rebuilds the page list from them. Everything is first
// fetched into a temporary folder (an index past 5002 lines or 4 MiB, a page past 64 MiB is cut
// off with an error); local files are replaced only once all of it has arrived, and then all
// or none, so a failure leaves the site wholly as it was. A server index that lists no page
// changes nothing. Refuses when no site is open. Returns the number of page list entries.
int synchronise(PublishJob& job);

}  // namespace zor::publish
