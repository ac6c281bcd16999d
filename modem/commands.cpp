#include "modem/commands.h"

#include <cstring>

namespace ostrakan {

namespace {

const CountedCommand kTable[kModemCommandCount] = {
    {5, "+++\r\n"},
    {6, "ATE0\r\n"},
    {10, "AT^SICS?\r\n"},
    {29, "AT^SICS=0,\"conType\",\"GPRS0\"\r\n"},
    {20, "AT^SICS=0,\"apn\",\"\"\r\n"},
    {21, "AT^SICS=0,\"user\",\"\"\r\n"},
    {23, "AT^SICS=0,\"passwd\",\"\"\r\n"},
    {27, "AT^SIPS=connection,save,0\r\n"},
    {24, "AT^SIPS=service,load,0\r\n"},
    {24, "AT^SIPS=service,load,9\r\n"},
    {10, "AT^SISS?\r\n"},
    {30, "AT^SISS=0,\"srvType\",\"Socket\"\r\n"},
    {48, "AT^SISS=0,\"address\",\"socktcp://listener:65534\"\r\n"},
    {24, "AT^SIPS=service,save,0\r\n"},
    {30, "AT^SISS=9,\"srvType\",\"Socket\"\r\n"},
    {41, "AT^SISS=9,\"address\",\"socktcp:// :65534\"\r\n"},
    {24, "AT^SIPS=service,save,9\r\n"},
    {21, "AT^SIPS=all,reset,0\r\n"},
    {20, "AT^SIPS=all,save,0\r\n"},
    {21, "AT^SIPS=all,reset,1\r\n"},
    {20, "AT^SIPS=all,save,1\r\n"},
    {21, "AT^SIPS=all,reset,2\r\n"},
    {20, "AT^SIPS=all,save,2\r\n"},
    {21, "AT^SIPS=all,reset,3\r\n"},
    {20, "AT^SIPS=all,save,3\r\n"},
    {21, "AT^SIPS=all,reset,4\r\n"},
    {20, "AT^SIPS=all,save,4\r\n"},
    {21, "AT^SIPS=all,reset,5\r\n"},
    {20, "AT^SIPS=all,save,5\r\n"},
    {25, "AT^SIPS=service,reset,6\r\n"},
    {24, "AT^SIPS=service,save,6\r\n"},
    {25, "AT^SIPS=service,reset,7\r\n"},
    {24, "AT^SIPS=service,save,7\r\n"},
    {25, "AT^SIPS=service,reset,8\r\n"},
    {24, "AT^SIPS=service,save,8\r\n"},
    {25, "AT^SIPS=service,reset,9\r\n"},
    {11, "AT+CMGF=1\r\n"},
    {7, "AT&D0\r\n"},
    {6, "AT&W\r\n"},
};

// How a field command is put together: the entry's first `kept` characters, the
// field text, then the closing characters.
struct FieldTemplate {
    int entry;
    std::size_t kept;
    const char* closing;
};

const FieldTemplate kFieldTemplates[] = {
    {kEntryApn, 17, "\"\r\n"},
    {kEntryUser, 18, "\"\r\n"},
    {kEntryPassword, 20, "\"\r\n"},
    {kEntryAddress9, 31, ":65534\"\r\n"},
};

const FieldTemplate* findTemplate(int entry) {
    for (const FieldTemplate& t : kFieldTemplates)
        if (t.entry == entry) return &t;
    return nullptr;
}

}  // namespace

const CountedCommand& modemCommand(int entry) { return kTable[entry]; }

void putModemCommand(LinkBuffers& link, int entry) {
    const CountedCommand& c = kTable[entry];
    link.transmitBuffer[0] = c.count;
    std::memcpy(link.transmitBuffer + 1, c.text, c.count);
    link.transmitBuffer[1 + c.count] = 0;
}

std::size_t fieldTextLimit(int entry) {
    const FieldTemplate* t = findTemplate(entry);
    if (!t) return 0;
    // Count byte, kept characters, text, closing characters and NUL in 100 bytes.
    return kCommandBufferSize - 1 - t->kept - std::strlen(t->closing) - 1;
}

bool buildFieldCommand(int entry, const std::uint8_t* text, std::size_t length,
                       std::uint8_t* buffer) {
    const FieldTemplate* t = findTemplate(entry);
    if (!t || length > fieldTextLimit(entry)) return false;
    if (entry == kEntryAddress9 && length == 0) {
        // The unchanged entry, with its one space where the address would be.
        const CountedCommand& c = kTable[entry];
        std::memset(buffer, 0, kCommandBufferSize);
        buffer[0] = c.count;
        std::memcpy(buffer + 1, c.text, c.count);
        return true;
    }
    std::memset(buffer, 0, kCommandBufferSize);
    const std::size_t closing = std::strlen(t->closing);
    std::uint8_t* p = buffer + 1;
    std::memcpy(p, kTable[entry].text, t->kept);
    p += t->kept;
    if (length) std::memcpy(p, text, length);
    p += length;
    std::memcpy(p, t->closing, closing);
    p += closing;
    *p = 0;
    buffer[0] = static_cast<std::uint8_t>(p - (buffer + 1));
    return true;
}

void putCommandBuffer(LinkBuffers& link, const std::uint8_t* buffer) {
    std::memcpy(link.transmitBuffer, buffer, std::size_t{buffer[0]} + 2);
}

}  // namespace ostrakan
