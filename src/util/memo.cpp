// TMemo: the editor keeps a line break of its own between lines; CR LF is put back
// wherever the text leaves the widget.
#include "util/memo.h"

#include "platform/qt/desktop.h"

#include <QMimeData>
#include <QTextCursor>
#include <QTextDocumentFragment>

namespace fetchora {

namespace {

QString withCrLf(QString text) {
    return text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

} // namespace

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {}

void TMemo::setText(const std::string& text) {
    QString lines = ui::toQString(text);
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    setPlainText(lines);
}

std::string TMemo::text() const {
    return ui::fromQString(withCrLf(toPlainText()));
}

QMimeData* TMemo::createMimeDataFromSelection() const {
    auto* data = new QMimeData;
    data->setText(withCrLf(textCursor().selection().toPlainText()));
    return data;
}

} // namespace fetchora
