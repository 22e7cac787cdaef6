#include "app/artwork.h"

#include <QBitmap>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace pictarre {

namespace {

const QColor kMask(192, 192, 192);

// A small framed landscape: sky, sun, two hills. Drawn into any square.
void drawLandscape(QPainter& p, const QRect& r)
{
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(120, 185, 240));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    const int w = r.width();
    const int h = r.height();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 210, 40));
    p.drawEllipse(QPointF(r.left() + w * 0.72, r.top() + h * 0.3), w * 0.13, h * 0.13);
    p.setBrush(QColor(40, 150, 60));
    QPolygon hills;
    hills << QPoint(r.left() + 1, r.bottom()) << QPoint(r.left() + 1, r.top() + h * 2 / 3)
          << QPoint(r.left() + w / 3, r.top() + h / 2) << QPoint(r.left() + w * 2 / 3, r.top() + h * 3 / 4)
          << QPoint(r.right(), r.top() + h * 3 / 5) << QPoint(r.right(), r.bottom());
    p.drawPolygon(hills);
}

void drawPage(QPainter& p, int x, int y, int w, int h)
{
    p.setPen(QColor(0, 0, 0));
    p.setBrush(Qt::white);
    p.drawRect(x, y, w, h);
    p.setPen(QColor(0, 0, 128));
    for (int line = y + 3; line < y + h - 1; line += 2)
        p.drawLine(x + 2, line, x + w - 2, line);
}

void drawImage(QPainter& p, int index)
{
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor black(0, 0, 0);
    const QColor navy(0, 0, 128);
    const QColor yellow(255, 255, 0);
    switch (index) {
    case 1:  // Open: a yellow folder opening
        p.setPen(black);
        p.setBrush(QColor(255, 220, 80));
        p.drawRect(1, 4, 12, 9);
        p.setBrush(yellow);
        p.drawPolygon(QPolygon({QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)}));
        p.drawLine(9, 2, 12, 2);
        p.drawLine(12, 2, 12, 4);
        break;
    case 2:  // a picture, the one true-colour image of the list
        drawLandscape(p, QRect(1, 2, 14, 12));
        break;
    case 3:  // Save: a disk
        p.setPen(black);
        p.setBrush(navy);
        p.drawRect(1, 1, 13, 13);
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 7, 5);
        p.setBrush(QColor(160, 160, 160));
        p.drawRect(4, 9, 7, 5);
        break;
    case 4:  // Copy: two pages
        drawPage(p, 1, 1, 8, 10);
        drawPage(p, 6, 5, 8, 10);
        break;
    case 5:  // Cut: scissors
        p.setPen(QPen(black, 1));
        p.drawLine(4, 1, 10, 9);
        p.drawLine(11, 1, 5, 9);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(2, 9, 4, 4);
        p.drawEllipse(9, 9, 4, 4);
        break;
    case 6:  // Paste: a clipboard with a page
        p.setPen(black);
        p.setBrush(QColor(150, 100, 40));
        p.drawRect(1, 2, 10, 12);
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(4, 1, 4, 2);
        drawPage(p, 6, 6, 8, 9);
        break;
    case 7:  // Delete: a red cross
        p.setPen(QPen(QColor(200, 0, 0), 2));
        p.drawLine(3, 3, 12, 12);
        p.drawLine(12, 3, 3, 12);
        break;
    case 8:  // Find: a magnifying glass
        p.setPen(QPen(black, 1));
        p.setBrush(QColor(200, 230, 255));
        p.drawEllipse(1, 1, 8, 8);
        p.setPen(QPen(black, 2));
        p.drawLine(8, 8, 13, 13);
        break;
    case 9:  // Print: a printer with a sheet
        drawPage(p, 4, 1, 7, 6);
        p.setPen(black);
        p.setBrush(QColor(160, 160, 160));
        p.drawRect(1, 6, 13, 6);
        p.setBrush(Qt::white);
        p.drawRect(4, 10, 7, 4);
        p.setPen(QColor(0, 160, 0));
        p.drawPoint(12, 8);
        break;
    case 10:  // View List: rows of small items
        for (int row = 2; row <= 12; row += 5) {
            for (int col = 1; col <= 9; col += 8) {
                p.fillRect(col, row, 2, 2, navy);
                p.fillRect(col + 3, row, 3, 1, black);
            }
        }
        break;
    case 11:  // View Details: lines of a table
        for (int row = 2; row <= 13; row += 3) {
            p.fillRect(1, row, 2, 2, navy);
            p.fillRect(4, row, 10, 1, black);
        }
        break;
    case 12:  // View Large Icons: four big tiles
        for (int row = 1; row <= 8; row += 7) {
            for (int col = 1; col <= 8; col += 7) {
                p.setPen(black);
                p.setBrush(QColor(80, 140, 220));
                p.drawRect(col, row, 5, 5);
            }
        }
        break;
    case 13: {  // Help What's This: an arrow and a question mark
        p.setPen(black);
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygon({QPoint(1, 1), QPoint(1, 11), QPoint(4, 8), QPoint(6, 12),
                                QPoint(7, 11), QPoint(5, 7), QPoint(8, 7)}));
        QFont font = p.font();
        font.setPixelSize(9);
        font.setBold(true);
        p.setFont(font);
        p.setPen(navy);
        p.drawText(QRect(8, 4, 8, 12), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    default:
        break;
    }
}

}  // namespace

QPixmap toolbarImage(int index)
{
    QPixmap image(16, 16);
    image.fill(kMask);
    {
        QPainter painter(&image);
        drawImage(painter, index);
    }
    image.setMask(image.createMaskFromColor(kMask, Qt::MaskInColor));
    return image;
}

QString toolbarImageKey(int index)
{
    static const char* const keys[] = {"Open", "", "Save", "Copy", "Cut", "Paste", "Delete",
                                       "Find", "Print", "View List", "View Details",
                                       "View Large Icons", "Help What's This"};
    return index >= 1 && index <= kToolbarImageCount ? QString::fromLatin1(keys[index - 1]) : QString();
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(140, 90, 40));
            painter.drawRoundedRect(QRectF(0, 0, size, size), size / 10.0, size / 10.0);
            const int inset = size / 8;
            drawLandscape(painter, QRect(inset, inset, size - 2 * inset, size - 2 * inset));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace pictarre
