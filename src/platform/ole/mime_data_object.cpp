// The text of a drag's mime data and the data object that offers it as CF_TEXT.
#include "platform/ole/mime_data_object.h"

#include <QByteArray>
#include <QMimeData>
#include <QString>
#include <QStringList>

#include <cstring>

namespace fetchora::ole {

namespace {

// RFC 2483, 5: text/uri-list holds one address a line, lines end in CR LF, and lines
// that start with "#" are comments.
std::optional<std::string> firstUri(const QByteArray& list) {
    for (const QByteArray& rawLine : list.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        return line.toStdString();
    }
    return std::nullopt;
}

// text/x-moz-url: the address, a line break and the link's title, in UTF-16.
std::optional<std::string> mozUrl(const QByteArray& bytes) {
    QString text;
    if (bytes.size() >= 2 && bytes.size() % 2 == 0) {
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                  bytes.size() / 2);
    } else {
        text = QString::fromUtf8(bytes);
    }
    const QString address = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (address.isEmpty())
        return std::nullopt;
    return address.toStdString();
}

} // namespace

std::optional<std::string> dropText(const QMimeData& data) {
    // A dragged link carries its address in text/uri-list; its text/plain may hold the
    // link's title instead (Chromium's page views do that), so the address comes first.
    const QString uriList = QStringLiteral("text/uri-list");
    if (data.hasFormat(uriList)) {
        if (auto uri = firstUri(data.data(uriList)))
            return uri;
    }
    // QMimeData::text() would make text of the address list; only text/plain counts.
    if (data.hasFormat(QStringLiteral("text/plain")) && !data.text().isEmpty())
        return data.text().toStdString();
    const QString moz = QStringLiteral("text/x-moz-url");
    if (data.hasFormat(moz))
        return mozUrl(data.data(moz));
    return std::nullopt;
}

MimeDataObject* MimeDataObject::create(const QMimeData& data) {
    return new MimeDataObject(dropText(data));
}

MimeDataObject* MimeDataObject::create(std::optional<std::string> text) {
    return new MimeDataObject(std::move(text));
}

HRESULT MimeDataObject::QueryInterface(const com::IID& iid, void** object) {
    if (object == nullptr)
        return com::E_POINTER;
    if (iid == com::IID_IUnknown || iid == IID_IDataObject) {
        *object = static_cast<IDataObject*>(this);
        AddRef();
        return com::S_OK;
    }
    *object = nullptr;
    return com::E_NOINTERFACE;
}

com::ULONG MimeDataObject::AddRef() {
    return ++references_;
}

com::ULONG MimeDataObject::Release() {
    const com::ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT MimeDataObject::check(const FORMATETC* format) const {
    if (format == nullptr)
        return com::E_INVALIDARG;
    if (format->cfFormat != CF_TEXT)
        return DV_E_FORMATETC;
    if (format->dwAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (format->lindex != -1)
        return DV_E_LINDEX;
    if ((format->tymed & TYMED_HGLOBAL) == 0)
        return DV_E_TYMED;
    if (!text_)
        return DV_E_FORMATETC;
    return com::S_OK;
}

HRESULT MimeDataObject::QueryGetData(const FORMATETC* format) {
    return check(format);
}

HRESULT MimeDataObject::GetData(const FORMATETC* format, STGMEDIUM* medium) {
    if (medium == nullptr)
        return com::E_INVALIDARG;
    *medium = STGMEDIUM{};
    if (const HRESULT result = check(format); result != com::S_OK)
        return result;
    const HGLOBAL memory = GlobalAlloc(GHND, text_->size() + 1);
    if (memory == nullptr)
        return com::E_OUTOFMEMORY;
    std::memcpy(GlobalLock(memory), text_->c_str(), text_->size() + 1);
    GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    return com::S_OK;
}

} // namespace fetchora::ole
