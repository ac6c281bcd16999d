// The fixed-size text buffer behind every edit control: a byte view (up to 255
// bytes) and a text view (up to 765 characters), selected by byteMode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/window.h"

namespace ostrakan {

class TextField {
public:
    static constexpr std::size_t kByteCapacity = 255;
    static constexpr std::size_t kTextCapacity = 765;

    TextField() = default;
    TextField(const TextField&) = delete;
    TextField& operator=(const TextField&) = delete;

    void selectBytes() { byteMode_ = 1; }
    void selectText() { byteMode_ = 0; }
    void clearSelected();

    // Create the edit control once; a second call does nothing.
    void createEdit(int x, int y, int width, int height, Window& parent, int id);
    void createMultilineEdit(int x, int y, int width, int height, Window& parent, int id);

    void blankControl();
    void readControl();
    std::size_t copyOut(std::uint8_t* destination) const;
    std::size_t length() const;
    void assign(const void* source, std::size_t length);
    void showInControl();

    // The usual "selectBytes, assign, showInControl" sequence.
    void showBytes(const void* data, std::size_t length);
    void showBytes(const char* text);

    ControlHandle control() const { return control_; }
    Window* window() const { return window_; }
    bool byteMode() const { return byteMode_ != 0; }
    const std::uint8_t* data() const { return byteMode_ ? bytes_ : text_; }

private:
    void create(int x, int y, int width, int height, Window& parent, int id, ControlKind kind);

    Window* window_ = nullptr;
    ControlHandle control_ = 0;
    std::int32_t byteMode_ = 1;
    std::uint8_t byteCount_ = 0;
    std::uint8_t bytes_[kByteCapacity] = {};
    std::uint16_t textLength_ = 0;
    std::uint8_t text_[kTextCapacity] = {};
};

}  // namespace ostrakan
