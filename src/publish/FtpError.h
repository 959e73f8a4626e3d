#pragma once

#include "platform/Errors.h"

namespace zor::publish {

// A failed FTP operation. When the server refused a command, replyCode() is the code of its
// reply and text() the server's own words; for connection failures, time-outs and local checks
// the code is 0.
class FtpError : public ZorError {
public:
    explicit FtpError(QString text, int replyCode = 0)
        : ZorError(std::move(text)), replyCode_(replyCode) {}
    int replyCode() const noexcept { return replyCode_; }

private:
    int replyCode_;
};

}  // namespace zor::publish
