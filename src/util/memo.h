// TMemo, the multi-line text box of the forms: its text is lines joined by CR LF, the
// line end of the system's texts, whichever way it is read, copied or set.
#pragma once

#include <QPlainTextEdit>

#include <string>

class QMimeData;

namespace fetchora {

class TMemo final : public QPlainTextEdit {
public:
    explicit TMemo(QWidget* parent = nullptr);

    // Shows text, breaking it into lines at CR LF, LF or CR.
    void setText(const std::string& text);
    // The lines shown, CR LF between them.
    std::string text() const;

protected:
    // What the user copies or drags out holds CR LF between lines as well.
    QMimeData* createMimeDataFromSelection() const override;
};

} // namespace fetchora
