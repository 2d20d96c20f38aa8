#include "provisioning_data/update_data_writer.h"

#include <algorithm>
#include <array>
#include <expat.h>
#include <memory>

namespace {

constexpr std::string_view kDeviceElement = "pciid";
// The attributes of a pciid element, in the order of a DeviceId's four fields.
constexpr std::array<std::string_view, 4> kAttributes = {"did", "vid", "svid", "sdid"};
constexpr std::array<std::string_view, 4> kFields = {kMacField, kPhyField, kExpromField,
                                                     kImageField};

struct ParserDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

class XmlSource {
  public:
    XmlSource(UpdateDataWriter& writer) : writer_(writer), parser_(XML_ParserCreate(nullptr)) {
        XML_SetUserData(parser_.get(), this);
        XML_SetElementHandler(parser_.get(), &XmlSource::on_start, &XmlSource::on_end);
        XML_SetCharacterDataHandler(parser_.get(), &XmlSource::on_text);
    }

    Result<> read(const platform::File& in, std::string_view path) {
        if (!parser_) {
            return failure_of(PROVKIT_ERR_FILE, Check::update_data_unreadable, path);
        }
        const Result<> read = read_blocks(in, path, [this](std::string_view bytes, bool last) {
            if (XML_Parse(parser_.get(), bytes.data(), static_cast<int>(bytes.size()), last) !=
                XML_STATUS_OK) {
                return parse_failure();
            }
            return Result<>{};
        });
        if (!read) {
            return read;
        }
        if (!entry_.devices.empty()) {
            return failure_at(PROVKIT_ERR_DATA, Check::entry_unclosed,
                              {entry_.devices.front().line, 0, entry_.devices.front().id, 0});
        }
        return {};
    }

  private:
    Result<> parse_failure() {
        if (failure_.failed()) {
            return failure_;
        }
        const XML_Error code = XML_GetErrorCode(parser_.get());
        return failure_at(PROVKIT_ERR_MALFORMED, Check::not_well_formed,
                          {line(), XML_GetCurrentColumnNumber(parser_.get()) + 1, {}, 0},
                          XML_ErrorString(code));
    }

    std::size_t line() const { return XML_GetCurrentLineNumber(parser_.get()); }

    void stop(Failure failure) {
        failure_ = std::move(failure);
        XML_StopParser(parser_.get(), XML_FALSE);
    }

    void start(std::string_view name, const XML_Char** attributes) {
        if (name == kDeviceElement) {
            open_device(attributes);
            return;
        }
        if (entry_.devices.empty()) {
            return; // as the scanner, which reads no tag before a key
        }
        const auto field = std::find(kFields.begin(), kFields.end(), name);
        if (field == kFields.end()) {
            return;
        }
        const auto k = static_cast<std::size_t>(field - kFields.begin());
        value_ = k == 0   ? &entry_.macText
                 : k == 1 ? &entry_.phyText
                 : k == 2 ? &entry_.exprom.emplace()
                          : &entry_.imageName;
        value_->clear();
        entry_.lines[k] = line();
        valueName_ = kFields[k];
        valueIsImage_ = name == kImageField;
    }

    void open_device(const XML_Char** attributes) {
        std::array<std::optional<std::uint16_t>, 4> fields;
        for (const XML_Char** attribute = attributes; *attribute != nullptr; attribute += 2) {
            for (std::size_t k = 0; k < kAttributes.size(); ++k) {
                if (kAttributes[k] == attribute[0]) {
                    fields[k] = written_identifier(attribute[1]);
                }
            }
        }
        for (std::size_t k = 0; k < kAttributes.size(); ++k) {
            if (!fields[k]) {
                stop(failure_at(PROVKIT_ERR_DATA, Check::identifier_unwritable, {line(), 0, {}, 0},
                                kAttributes[k]));
                return;
            }
        }
        entry_.devices.push_back({{*fields[0], *fields[1], *fields[2], *fields[3]}, line()});
    }

    void end() {
        const bool closes = valueIsImage_ && value_ != nullptr;
        value_ = nullptr;
        valueIsImage_ = false;
        if (!closes) {
            return;
        }
        if (Result<> written = writer_.write(entry_); !written) {
            stop(written.error());
            return;
        }
        entry_.clear();
    }

    void text(std::string_view text) {
        if (value_ == nullptr) {
            return;
        }
        const std::size_t most = valueIsImage_ ? kMaxImageName : kMaxBlobText;
        if (value_->size() + text.size() > most) {
            stop(failure_at(PROVKIT_ERR_DATA, Check::value_too_long, {line(), 0, first(), 0},
                            valueName_));
            return;
        }
        value_->append(text);
    }

    std::optional<DeviceId> first() const {
        return entry_.devices.empty() ? std::nullopt
                                      : std::optional<DeviceId>(entry_.devices.front().id);
    }

    static void XMLCALL on_start(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<XmlSource*>(self)->start(name, attributes);
    }
    static void XMLCALL on_end(void* self, const XML_Char*) {
        static_cast<XmlSource*>(self)->end();
    }
    static void XMLCALL on_text(void* self, const XML_Char* text, int length) {
        static_cast<XmlSource*>(self)->text({text, static_cast<std::size_t>(length)});
    }

    UpdateDataWriter& writer_;
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser_;
    MeantEntry entry_;
    std::string* value_ = nullptr; // the value whose element is open
    std::string_view valueName_;
    bool valueIsImage_ = false;
    Failure failure_;
};

} // namespace

Result<> convert_xml(const platform::File& in, std::string_view inPath, UpdateDataWriter& writer) {
    XmlSource source(writer);
    return source.read(in, inPath);
}
