#include "serial/web/web_line.h"

namespace ostrakan {

int WebLine::open(const char*) {
    if (!transportReady_) return kPortOpenFailed;
    handover_.reset();
    waiting_.clear();
    outgoing_.clear();
    lost_ = false;
    lossUntold_ = false;
    closeRequest_ = false;
    open_ = true;
    return kPortOpened;
}

void WebLine::close() {
    if (!open_) return;
    open_ = false;
    lost_ = false;
    lossUntold_ = false;
    transportReady_ = false;
    closeRequest_ = true;
    waiting_.clear();
    outgoing_.clear();
}

void WebLine::handOff() {
    // Without a port the writer does not exist: nothing is sent, as on the desktop.
    if (!open_ || lost_) return;
    const std::uint8_t count = link_.transmitBuffer[0];
    outgoing_.emplace_back(reinterpret_cast<const char*>(link_.transmitBuffer + 1), count);
}

void WebLine::receive(const std::uint8_t* bytes, std::size_t size, TimePoint now) {
    if (!open_ || lost_ || size == 0) return;
    if (handover_.accepting() && waiting_.empty()) {
        handover_.store(bytes, size, now);
        return;
    }
    waiting_.insert(waiting_.end(), bytes, bytes + size);
}

void WebLine::releaseBurst() {
    if (!handover_.release() || waiting_.empty()) return;
    // The reader wakes and reads at once what waited in the driver; the host loop
    // stamps it with the instant of the release.
    handover_.store(waiting_.data(), waiting_.size(), now_);
    waiting_.clear();
}

void WebLine::markLost() {
    if (!open_ || lost_) return;
    lost_ = true;
    lossUntold_ = true;
}

bool WebLine::takeLineLost() {
    const bool told = lossUntold_;
    lossUntold_ = false;
    return told;
}

bool WebLine::takeCloseRequest() {
    const bool request = closeRequest_;
    closeRequest_ = false;
    return request;
}

std::vector<std::string> WebLine::takeOutgoing() {
    std::vector<std::string> taken;
    taken.swap(outgoing_);
    return taken;
}

bool WebLine::quietDeadline(TimePoint now, TimePoint* when) const {
    const int wait = handover_.waitMilliseconds(now);
    if (wait < 0) return false;
    *when = now + Milliseconds(wait);
    return true;
}

}  // namespace ostrakan
