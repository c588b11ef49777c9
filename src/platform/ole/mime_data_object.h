// The data object of a Qt drag: it offers the drag's text as CF_TEXT in global memory,
// taken from the mime data when the object is made.
#pragma once

#include "platform/ole/ole.h"

#include <atomic>
#include <optional>
#include <string>

class QMimeData;

namespace fetchora::ole {

// The text a drop of data gives, as UTF-8: text/plain; else the first address of
// text/uri-list; else the address of text/x-moz-url. Nothing when the data holds none.
std::optional<std::string> dropText(const QMimeData& data);

class MimeDataObject final : public IDataObject {
public:
    // Made with one reference, which the maker gives back with Release.
    static MimeDataObject* create(const QMimeData& data);
    // A data object over text (or over nothing), for drags that do not come from Qt.
    static MimeDataObject* create(std::optional<std::string> text);

    HRESULT QueryInterface(const com::IID& iid, void** object) override;
    com::ULONG AddRef() override;
    com::ULONG Release() override;

    // CF_TEXT, content, index -1, in global memory: the text with a terminating zero.
    // DV_E_FORMATETC for another format or when the drag holds no text.
    HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT QueryGetData(const FORMATETC* format) override;

    bool hasText() const { return text_.has_value(); }

private:
    explicit MimeDataObject(std::optional<std::string> text) : text_(std::move(text)) {}
    ~MimeDataObject() = default;
    HRESULT check(const FORMATETC* format) const;

    std::optional<std::string> text_;
    std::atomic<com::ULONG> references_{1};
};

} // namespace fetchora::ole
