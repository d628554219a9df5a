#include "Json.h"

#include <cctype>
#include <cstdlib>

namespace {

class Parser {
public:
    explicit Parser(const std::string& text) : s_(text) {}

    bool Document(JsonValue& out, std::string& error) {
        Space();
        if (!Value(out, 0)) {
            error = error_ + " at offset " + std::to_string(pos_);
            return false;
        }
        Space();
        if (pos_ != s_.size()) {
            error = "trailing characters at offset " + std::to_string(pos_);
            return false;
        }
        return true;
    }

private:
    bool Fail(const char* why) {
        error_ = why;
        return false;
    }
    void Space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool Literal(const char* word) {
        const std::string w(word);
        if (s_.compare(pos_, w.size(), w) != 0) return Fail("unknown literal");
        pos_ += w.size();
        return true;
    }

    bool Value(JsonValue& out, int depth) {
        if (depth > 64) return Fail("nesting too deep");
        if (pos_ >= s_.size()) return Fail("unexpected end");
        const char c = s_[pos_];
        if (c == '{') return ObjectValue(out, depth);
        if (c == '[') return ArrayValue(out, depth);
        if (c == '"') {
            out.kind = JsonValue::String;
            return StringValue(out.text);
        }
        if (c == 't' || c == 'f') {
            out.kind = JsonValue::Bool;
            out.boolean = c == 't';
            return Literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            out.kind = JsonValue::Null;
            return Literal("null");
        }
        return NumberValue(out);
    }

    bool ObjectValue(JsonValue& out, int depth) {
        out.kind = JsonValue::Object;
        ++pos_;
        Space();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            Space();
            if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("member name expected");
            std::wstring wide;
            if (!StringValue(wide)) return false;
            std::string name(wide.begin(), wide.end());
            Space();
            if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("':' expected");
            ++pos_;
            Space();
            JsonValue member;
            if (!Value(member, depth + 1)) return false;
            out.members.emplace_back(std::move(name), std::move(member));
            Space();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return Fail("',' or '}' expected");
        }
    }

    bool ArrayValue(JsonValue& out, int depth) {
        out.kind = JsonValue::Array;
        ++pos_;
        Space();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            Space();
            JsonValue item;
            if (!Value(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            Space();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return Fail("',' or ']' expected");
        }
    }

    bool StringValue(std::wstring& out) {
        ++pos_; // opening quote
        out.clear();
        while (pos_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("control character in string");
            if (c >= 0x80) return Fail("non-ASCII byte in string (the client escapes them)");
            if (c != '\\') {
                out += static_cast<wchar_t>(c);
                continue;
            }
            if (pos_ >= s_.size()) break;
            const char e = s_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += static_cast<wchar_t>(e);
                break;
            case 'b':
                out += L'\b';
                break;
            case 'f':
                out += L'\f';
                break;
            case 'n':
                out += L'\n';
                break;
            case 'r':
                out += L'\r';
                break;
            case 't':
                out += L'\t';
                break;
            case 'u': {
                if (pos_ + 4 > s_.size()) return Fail("short \\u escape");
                unsigned value = 0;
                for (int i = 0; i < 4; ++i) {
                    const char h = s_[pos_++];
                    value <<= 4;
                    if (h >= '0' && h <= '9')
                        value |= h - '0';
                    else if (h >= 'a' && h <= 'f')
                        value |= h - 'a' + 10;
                    else if (h >= 'A' && h <= 'F')
                        value |= h - 'A' + 10;
                    else
                        return Fail("bad hex digit in \\u escape");
                }
                out += static_cast<wchar_t>(value);
                break;
            }
            default:
                return Fail("unknown escape");
            }
        }
        return Fail("unterminated string");
    }

    bool NumberValue(JsonValue& out) {
        const size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
        if (pos_ >= s_.size() || !isdigit(static_cast<unsigned char>(s_[pos_])))
            return Fail("value expected");
        if (s_[pos_] == '0' && pos_ + 1 < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_ + 1])))
            return Fail("leading zero");
        while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_])))
            ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (pos_ >= s_.size() || !isdigit(static_cast<unsigned char>(s_[pos_])))
                return Fail("digit expected");
            while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_])))
                ++pos_;
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (pos_ >= s_.size() || !isdigit(static_cast<unsigned char>(s_[pos_])))
                return Fail("digit expected");
            while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_])))
                ++pos_;
        }
        out.kind = JsonValue::Number;
        out.number = std::strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        return true;
    }

    const std::string& s_;
    size_t pos_ = 0;
    std::string error_;
};

} // namespace

const JsonValue* JsonValue::Find(const std::string& name) const {
    for (const auto& m : members)
        if (m.first == name) return &m.second;
    return nullptr;
}

bool ParseJson(const std::string& text, JsonValue& out, std::string& error) {
    out = JsonValue();
    return Parser(text).Document(out, error);
}
