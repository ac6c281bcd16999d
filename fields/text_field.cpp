#include "fields/text_field.h"

#include <cstring>

namespace ostrakan {

namespace {
// Code-page-1251 bullet: how the byte view shows control bytes.
constexpr std::uint8_t kBullet = 0x95;

std::size_t terminatedLength(const std::uint8_t* text, std::size_t limit) {
    const void* zero = std::memchr(text, 0, limit);
    return zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - text) : limit;
}
}  // namespace

void TextField::clearSelected() {
    if (byteMode_) {
        byteCount_ = 0;
        std::memset(bytes_, 0, sizeof bytes_);
    } else {
        textLength_ = 0;
        std::memset(text_, 0, sizeof text_);
    }
}

void TextField::create(int x, int y, int width, int height, Window& parent, int id,
                       ControlKind kind) {
    if (control_ != 0) return;
    window_ = &parent;
    control_ = parent.createControl(kind, x, y, width, height, id, "");
}

void TextField::createEdit(int x, int y, int width, int height, Window& parent, int id) {
    create(x, y, width, height, parent, id, ControlKind::Edit);
}

void TextField::createMultilineEdit(int x, int y, int width, int height, Window& parent,
                                    int id) {
    create(x, y, width, height, parent, id, ControlKind::MultilineEdit);
}

void TextField::blankControl() {
    if (window_ && control_) window_->setControlText(control_, "");
}

void TextField::readControl() {
    clearSelected();
    if (!window_ || !control_) return;
    // The storage doubles as the copy's destination: room for capacity - 1
    // characters plus the terminator, so 254 or 764 characters at most.
    if (byteMode_) {
        window_->getControlText(control_, reinterpret_cast<char*>(bytes_), sizeof bytes_);
        bytes_[kByteCapacity - 1] = 0;
        byteCount_ = static_cast<std::uint8_t>(terminatedLength(bytes_, kByteCapacity - 1));
    } else {
        window_->getControlText(control_, reinterpret_cast<char*>(text_), sizeof text_);
        text_[kTextCapacity - 1] = 0;
        textLength_ = static_cast<std::uint16_t>(terminatedLength(text_, kTextCapacity - 1));
    }
}

std::size_t TextField::copyOut(std::uint8_t* destination) const {
    const std::size_t n = length();
    std::memcpy(destination, data(), n);
    return n;
}

std::size_t TextField::length() const { return byteMode_ ? byteCount_ : textLength_; }

void TextField::assign(const void* source, std::size_t length) {
    clearSelected();
    if (byteMode_) {
        const std::size_t n = length < kByteCapacity ? length : kByteCapacity;
        if (n) std::memcpy(bytes_, source, n);
        byteCount_ = static_cast<std::uint8_t>(n);
    } else {
        const std::size_t n = length < kTextCapacity ? length : kTextCapacity;
        if (n) std::memcpy(text_, source, n);
        textLength_ = static_cast<std::uint16_t>(n);
    }
}

void TextField::showInControl() {
    if (!window_ || !control_) return;
    if (byteMode_) {
        char shown[kByteCapacity + 1];
        for (std::size_t i = 0; i < byteCount_; ++i)
            shown[i] = static_cast<char>(bytes_[i] < 0x20 ? kBullet : bytes_[i]);
        shown[byteCount_] = 0;
        window_->setControlText(control_, shown);
    } else {
        // The text view is shown as a C string: it ends at its first zero byte.
        char shown[kTextCapacity + 1];
        std::memcpy(shown, text_, textLength_);
        shown[textLength_] = 0;
        window_->setControlText(control_, shown);
    }
}

void TextField::showBytes(const void* data, std::size_t length) {
    selectBytes();
    assign(data, length);
    showInControl();
}

void TextField::showBytes(const char* text) { showBytes(text, std::strlen(text)); }

}  // namespace ostrakan
