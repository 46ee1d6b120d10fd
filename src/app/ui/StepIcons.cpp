#include "app/ui/StepIcons.h"

#include <QLinearGradient>
#include <cmath>
#include <QPainter>
#include <QPainterPath>

#include "app/StepFlow.h"

namespace kestrel {

namespace {

// Every picture is drawn on a 40x40 grid and scaled.
void document(QPainter& p, QRectF r, const QColor& lines) {
    QPainterPath page;
    page.moveTo(r.left(), r.top());
    page.lineTo(r.right() - 6, r.top());
    page.lineTo(r.right(), r.top() + 6);
    page.lineTo(r.right(), r.bottom());
    page.lineTo(r.left(), r.bottom());
    page.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 1.2));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setPen(QPen(lines, 1.6));
    for (qreal y = r.top() + 8; y < r.bottom() - 3; y += 4.5) p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 4, y));
}

void folder(QPainter& p, const QColor& colour) {
    p.setPen(QPen(colour.darker(160), 1.2));
    p.setBrush(colour.darker(115));
    p.drawRoundedRect(QRectF(3, 9, 14, 6), 2, 2);
    QLinearGradient g(0, 12, 0, 36);
    g.setColorAt(0, colour.lighter(130));
    g.setColorAt(1, colour);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(3, 13, 34, 22), 3, 3);
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
    p.setPen(QPen(colour, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    const QLineF line(to, from);
    QLineF a = line;
    a.setLength(5);
    a.setAngle(line.angle() + 30);
    QLineF b = line;
    b.setLength(5);
    b.setAngle(line.angle() - 30);
    p.drawLine(a);
    p.drawLine(b);
}

void gear(QPainter& p, QPointF c, qreal r, const QColor& colour) {
    QPainterPath path;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal angle = i * M_PI / teeth;
        const qreal rad = (i % 2 == 0) ? r : r * 0.78;
        const QPointF pt(c.x() + rad * std::cos(angle), c.y() + rad * std::sin(angle));
        if (i == 0) path.moveTo(pt);
        else path.lineTo(pt);
    }
    path.closeSubpath();
    path.addEllipse(c, r * 0.32, r * 0.32);
    path.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(colour.darker(150), 1));
    p.setBrush(colour);
    p.drawPath(path);
}

// The colours the step pictures share.
const QColor kBlue(52, 120, 200), kGreen(60, 160, 90), kOrange(230, 140, 40), kRed(200, 60, 60),
    kPurple(130, 90, 180), kYellow(240, 200, 70);

void drawTrainingText(QPainter& p) {
    folder(p, kYellow);
    document(p, QRectF(14, 4, 16, 20), kGreen);
}

void drawRawText(QPainter& p) {
    folder(p, QColor(120, 170, 230));
    document(p, QRectF(14, 4, 16, 20), kBlue);
}

void drawPreprocess(QPainter& p) {
    document(p, QRectF(4, 4, 20, 30), QColor(80, 80, 80));
    // Cut marks: the text split into words.
    p.setPen(QPen(kRed, 2));
    for (qreal x : {10.0, 17.0}) p.drawLine(QPointF(x, 9), QPointF(x, 30));
    arrow(p, QPointF(25, 20), QPointF(37, 20), kGreen);
}

void drawIntermediate(QPainter& p) {
    document(p, QRectF(3, 4, 16, 22), kBlue);
    gear(p, QPointF(27, 27), 10, kOrange);
}

void drawIndex(QPainter& p) {
    p.setPen(Qt::NoPen);
    const QColor bars[] = {kBlue, kGreen, kOrange, kPurple};
    for (int i = 0; i < 4; ++i) {
        p.setBrush(bars[i]);
        p.drawEllipse(QPointF(7, 8 + i * 8), 2.8, 2.8);
        p.drawRoundedRect(QRectF(13, 5.5 + i * 8, 24 - i * 4, 5), 2, 2);
    }
}

void drawSelect(QPainter& p) {
    QPainterPath funnel;
    funnel.moveTo(4, 6);
    funnel.lineTo(36, 6);
    funnel.lineTo(23, 21);
    funnel.lineTo(23, 34);
    funnel.lineTo(17, 37);
    funnel.lineTo(17, 21);
    funnel.closeSubpath();
    QLinearGradient g(0, 6, 0, 37);
    g.setColorAt(0, kPurple.lighter(140));
    g.setColorAt(1, kPurple);
    p.setPen(QPen(kPurple.darker(150), 1.2));
    p.setBrush(g);
    p.drawPath(funnel);
    p.setPen(Qt::NoPen);
    p.setBrush(kYellow);
    for (QPointF dot : {QPointF(10, 2.5), QPointF(20, 2.5), QPointF(30, 2.5)}) p.drawEllipse(dot, 2.2, 2.2);
}

void drawMethod(QPainter& p) {
    p.setPen(QPen(QColor(90, 90, 90), 2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) p.drawLine(QPointF(6, 9 + i * 11), QPointF(34, 9 + i * 11));
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(kOrange);
    p.drawRoundedRect(QRectF(11, 5, 6, 8), 1.5, 1.5);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(24, 16, 6, 8), 1.5, 1.5);
    p.setBrush(kGreen);
    p.drawRoundedRect(QRectF(15, 27, 6, 8), 1.5, 1.5);
}

void drawClassify(QPainter& p) {
    document(p, QRectF(14, 2, 12, 15), QColor(80, 80, 80));
    const QColor bins[] = {kBlue, kGreen, kOrange};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(bins[i].darker(140), 1));
        p.setBrush(bins[i]);
        p.drawRoundedRect(QRectF(2 + i * 13, 29, 10, 9), 2, 2);
    }
    arrow(p, QPointF(20, 19), QPointF(7, 27), kBlue);
    arrow(p, QPointF(20, 19), QPointF(20, 27), kGreen);
    arrow(p, QPointF(20, 19), QPointF(33, 27), kOrange);
}

void drawResults(QPainter& p) {
    p.setPen(QPen(QColor(90, 90, 90), 1.2));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 4, 32, 32));
    p.setBrush(kBlue.lighter(150));
    p.drawRect(QRectF(4, 4, 32, 7));
    for (int i = 1; i < 4; ++i) p.drawLine(QPointF(4, 4 + 7 * i + 0.5 * i), QPointF(36, 4 + 7 * i + 0.5 * i));
    p.drawLine(QPointF(14, 4), QPointF(14, 36));
    p.setPen(QPen(kGreen, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(19, 26), QPointF(24, 32), QPointF(35, 17)}));
}

void drawEvaluate(QPainter& p) {
    p.setPen(QPen(QColor(80, 80, 80), 1.5));
    p.drawLine(QPointF(4, 36), QPointF(37, 36));
    p.drawLine(QPointF(4, 36), QPointF(4, 3));
    const qreal heights[] = {18, 28, 12, 23};
    const QColor bars[] = {kRed, kYellow, kRed, kYellow};
    for (int i = 0; i < 4; ++i) {
        p.setPen(QPen(bars[i].darker(140), 1));
        p.setBrush(bars[i]);
        p.drawRect(QRectF(8 + i * 7.5, 35 - heights[i], 5.5, heights[i]));
    }
}

void drawRepresentation(QPainter& p) {
    document(p, QRectF(3, 3, 22, 30), kBlue);
    p.setPen(QPen(QColor(70, 70, 70), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(29, 29), QPointF(37, 37));
    p.setPen(QPen(QColor(70, 70, 70), 2));
    p.setBrush(QColor(200, 230, 255, 180));
    p.drawEllipse(QPointF(24, 24), 8, 8);
}

void draw(QPainter& p, int id) {
    switch (id) {
    case kStepTrainingText: drawTrainingText(p); break;
    case kStepRawText: drawRawText(p); break;
    case kStepPreprocess: drawPreprocess(p); break;
    case kStepIntermediate: drawIntermediate(p); break;
    case kStepIndex: drawIndex(p); break;
    case kStepSelect: drawSelect(p); break;
    case kStepMethod: drawMethod(p); break;
    case kStepClassify: drawClassify(p); break;
    case kStepResults: drawResults(p); break;
    case kStepEvaluate: drawEvaluate(p); break;
    case kStepRepresentation: drawRepresentation(p); break;
    default: break;
    }
}

}  // namespace

QPixmap stepIcon(int id, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 40.0, size / 40.0);
    draw(p, id);
    return pixmap;
}

QPixmap applicationIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    paintApplicationIcon(p, size);
    return pixmap;
}

void paintApplicationIcon(QPainter& p, double size) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient sky(0, 0, 0, 64);
    sky.setColorAt(0, QColor(90, 150, 220));
    sky.setColorAt(1, QColor(40, 90, 170));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    // A hovering kestrel seen from below: long pointed wings, a slim body
    // and a fanned tail.
    QPainterPath wings;
    wings.moveTo(32, 22);
    wings.cubicTo(24, 16, 14, 14, 4, 17);
    wings.cubicTo(12, 21, 20, 26, 28, 30);
    wings.lineTo(36, 30);
    wings.cubicTo(44, 26, 52, 21, 60, 17);
    wings.cubicTo(50, 14, 40, 16, 32, 22);
    wings.closeSubpath();
    QPainterPath body;
    body.addEllipse(QPointF(32, 27), 4.5, 10);
    QPainterPath tail;
    tail.moveTo(29.5, 34);
    tail.lineTo(26, 52);
    tail.quadTo(32, 55, 38, 52);
    tail.lineTo(34.5, 34);
    tail.closeSubpath();
    p.setPen(QPen(QColor(90, 50, 20), 1.2));
    p.setBrush(QColor(200, 118, 52));
    p.drawPath(tail);
    p.drawPath(wings.united(body));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 35, 15));
    p.drawEllipse(QPointF(32, 17.5), 3.6, 3.6);
    // Dark wing tips and tail band.
    p.drawPolygon(QPolygonF({QPointF(4, 17), QPointF(12, 16), QPointF(11, 20.5)}));
    p.drawPolygon(QPolygonF({QPointF(60, 17), QPointF(52, 16), QPointF(53, 20.5)}));
    p.drawRect(QRectF(26.4, 48, 11.2, 2.2));
}

}  // namespace kestrel
