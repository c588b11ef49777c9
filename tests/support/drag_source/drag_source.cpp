// A drag source for the drag and drop test between processes: a small window that, when
// pressed, drags the link given on its command line the way a browser drags a link
// (text/uri-list and text/plain), and quits when the drag has ended.
//
//     drag_source URL
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

#include <cstdio>

namespace {

class DragSource final : public QWidget {
public:
    explicit DragSource(QString link) : link_(std::move(link)) {
        setWindowTitle(QStringLiteral("Fetchora drag source"));
        setFixedSize(160, 80);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        auto* data = new QMimeData;
        data->setData(QStringLiteral("text/uri-list"), link_.toUtf8() + "\r\n");
        data->setText(link_);
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction action =
            drag->exec(Qt::CopyAction | Qt::LinkAction | Qt::MoveAction, Qt::CopyAction);
        std::printf("drag ended with action %d\n", static_cast<int>(action));
        std::fflush(stdout);
        QApplication::quit();
    }

private:
    QString link_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drag_source URL\n");
        return 2;
    }
    DragSource source(QString::fromLocal8Bit(argv[1]));
    source.move(0, 0);
    source.show();
    return QApplication::exec();
}
