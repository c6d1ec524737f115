#include "rpc.h"

#include "login.h"
#include "text.h"
#include "tokens.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace tdsserver {
namespace {

constexpr std::array<std::string_view, 16> kProcedureIds = {"",
                                                            "sp_cursor",
                                                            "sp_cursoropen",
                                                            "sp_cursorprepare",
                                                            "sp_cursorexecute",
                                                            "sp_cursorprepexec",
                                                            "sp_cursorunprepare",
                                                            "sp_cursorfetch",
                                                            "sp_cursoroption",
                                                            "sp_cursorclose",
                                                            "sp_executesql",
                                                            "sp_prepare",
                                                            "sp_execute",
                                                            "sp_prepexec",
                                                            "sp_prepexecrpc",
                                                            "sp_unprepare"};

class Reader {
public:
    explicit Reader(std::string_view data) : d_(data) {}

    bool atEnd() const { return pos_ >= d_.size(); }
    std::size_t left() const { return d_.size() - pos_; }

    std::string_view bytes(std::size_t n) {
        if (n > left())
            throw ProtocolError("RPC request ends early");
        const std::string_view out = d_.substr(pos_, n);
        pos_ += n;
        return out;
    }
    std::uint64_t le(std::size_t n) {
        const std::string_view b = bytes(n);
        std::uint64_t v = 0;
        for (std::size_t i = n; i-- > 0;)
            v = (v << 8) | static_cast<unsigned char>(b[i]);
        return v;
    }
    std::uint8_t u8() { return static_cast<std::uint8_t>(le(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(le(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(le(4)); }

private:
    std::string_view d_;
    std::size_t pos_ = 0;
};

// Reads a PLP value; nullopt for NULL.
std::optional<std::string> readPlp(Reader& r) {
    const std::uint64_t total = r.le(8);
    if (total == ~std::uint64_t{0})
        return std::nullopt;
    std::string out;
    for (;;) {
        const std::uint32_t chunk = r.u32();
        if (chunk == 0)
            return out;
        out.append(r.bytes(chunk));
    }
}

std::string signedText(std::uint64_t v, std::size_t size) {
    const unsigned bits = static_cast<unsigned>(size * 8);
    std::int64_t s = 0;
    if (bits == 64)
        s = static_cast<std::int64_t>(v);
    else if (v & (std::uint64_t{1} << (bits - 1)))
        s = static_cast<std::int64_t>(v) - (std::int64_t{1} << bits);
    else
        s = static_cast<std::int64_t>(v);
    return std::to_string(s);
}

std::string hexText(std::string_view b) {
    static const char* digits = "0123456789ABCDEF";
    std::string out = "0x";
    for (const char c : b) {
        out.push_back(digits[(static_cast<unsigned char>(c) >> 4) & 0xF]);
        out.push_back(digits[static_cast<unsigned char>(c) & 0xF]);
    }
    return out;
}

// Reads one parameter's TYPE_INFO and value; false for a type not decoded here.
bool readParam(Reader& r, RpcParam& p) {
    const std::uint8_t type = r.u8();
    switch (type) {
    case 0x26: // INTN
    case 0x68: // BITN
    case 0x6D: // FLTN
    {
        r.u8(); // maximum size
        const std::uint8_t size = r.u8();
        p.type = type == 0x26 ? "int" : type == 0x68 ? "bit" : "float";
        if (size == 0) {
            p.isNull = true;
            return true;
        }
        const std::uint64_t v = r.le(size);
        if (type == 0x6D) {
            char buf[40];
            if (size == 8) {
                double d = 0;
                std::memcpy(&d, &v, 8);
                std::snprintf(buf, sizeof buf, "%.17g", d);
            } else {
                const auto bits = static_cast<std::uint32_t>(v);
                float f = 0;
                std::memcpy(&f, &bits, 4);
                std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
            }
            p.value = buf;
        } else {
            p.value = type == 0x68 ? std::to_string(v != 0) : signedText(v, size);
        }
        return true;
    }
    case 0xE7: // NVARCHAR
    case 0xEF: // NCHAR
    case 0xA7: // BIGVARCHAR
    case 0xAF: // BIGCHAR
    case 0xA5: // BIGVARBINARY
    case 0xAD: // BIGBINARY
    {
        const bool national = type == 0xE7 || type == 0xEF;
        const bool binary = type == 0xA5 || type == 0xAD;
        p.type = national ? "nvarchar" : binary ? "varbinary" : "varchar";
        const std::uint16_t maxSize = r.u16();
        if (!binary)
            r.bytes(5); // collation
        std::optional<std::string> raw;
        if (maxSize == 0xFFFF) {
            raw = readPlp(r);
        } else {
            const std::uint16_t size = r.u16();
            if (size != 0xFFFF)
                raw = std::string(r.bytes(size));
        }
        if (!raw) {
            p.isNull = true;
            return true;
        }
        p.value = national ? fromUtf16le(*raw) : binary ? hexText(*raw) : cp1252ToUtf8(*raw);
        return true;
    }
    case 0x63: // NTEXT
    case 0x23: // TEXT
    case 0x22: // IMAGE
    {
        p.type = type == 0x63 ? "ntext" : type == 0x23 ? "text" : "image";
        r.u32(); // maximum size
        if (type != 0x22)
            r.bytes(5);
        const std::uint32_t size = r.u32();
        if (size == 0xFFFFFFFF) {
            p.isNull = true;
            return true;
        }
        const std::string_view raw = r.bytes(size);
        p.value = type == 0x63 ? fromUtf16le(raw) : type == 0x23 ? cp1252ToUtf8(raw) : hexText(raw);
        return true;
    }
    default:
        return false;
    }
}

} // namespace

std::string_view skipAllHeaders(std::string_view payload, std::uint32_t tdsVersion) {
    if (olderThan(tdsVersion, kTds72))
        return payload; // headers came with TDS 7.2
    if (payload.size() < 4)
        throw ProtocolError("request without ALL_HEADERS");
    std::uint32_t total = 0;
    for (int i = 3; i >= 0; --i)
        total = (total << 8) | static_cast<unsigned char>(payload[static_cast<std::size_t>(i)]);
    if (total < 4 || total > payload.size())
        throw ProtocolError("ALL_HEADERS length out of range");
    return payload.substr(total);
}

RpcRecord decodeRpc(std::string_view body) {
    Reader r(body);
    RpcRecord rec;
    const std::uint16_t nameLength = r.u16();
    if (nameLength == 0xFFFF) {
        const std::uint16_t id = r.u16();
        rec.procedure = id < kProcedureIds.size() && id > 0 ? std::string(kProcedureIds[id])
                                                            : "#" + std::to_string(id);
    } else {
        rec.procedure = fromUtf16le(r.bytes(std::size_t{nameLength} * 2));
    }
    r.u16(); // option flags
    while (!r.atEnd()) {
        const std::uint8_t next = static_cast<std::uint8_t>(r.bytes(1)[0]);
        if (next == 0xFF) // start of a second request in the same message
            break;
        RpcParam p;
        p.name = fromUtf16le(r.bytes(std::size_t{next} * 2));
        r.u8(); // status flags (output parameter, default value)
        if (!readParam(r, p))
            break;
        rec.params.push_back(std::move(p));
    }
    return rec;
}

} // namespace tdsserver
