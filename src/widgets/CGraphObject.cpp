#include "widgets/CGraphObject.h"

#include <QChartView>
#include <QCoreApplication>
#include <QPixmap>
#include <QVBoxLayout>

#include "widgets/C2DBarGraph.h"

namespace kestrel {

CGraphObject::CGraphObject(QWidget* parent) : QWidget(parent), view_(new QChartView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    view_->setRenderHint(QPainter::Antialiasing);
    createGraph();
}

void CGraphObject::createGraph(GraphType type) {
    type_ = type;
    data_ = GraphData();
    refresh();
}

void CGraphObject::setGraphTitle(const QString& title) { data_.title = title; }

void CGraphObject::setGraphSubtitle(const QString& subtitle) { data_.subtitle = subtitle; }

int CGraphObject::addSegment(const QString& label) {
    data_.segments.append(label);
    for (GraphSeries& s : data_.series) s.values.append(0);
    return static_cast<int>(data_.segments.size()) - 1;
}

int CGraphObject::addSeries(const QString& name, const QColor& colour) {
    data_.series.append(GraphSeries{name, colour, QVector<int>(data_.segments.size(), 0)});
    return static_cast<int>(data_.series.size()) - 1;
}

void CGraphObject::setValue(int segment, int series, int value) {
    if (series < 0 || series >= data_.series.size()) return;
    QVector<int>& values = data_.series[series].values;
    if (segment < 0 || segment >= values.size()) return;
    values[segment] = value;
}

void CGraphObject::refresh() {
    // QChartView takes ownership of the new chart and deletes the old one.
    QChart* old = view_->chart();
    switch (type_) {
    case BarGraph2D:
        view_->setChart(C2DBarGraph::build(data_));
        break;
    }
    if (old && old != view_->chart()) delete old;
}

QPixmap CGraphObject::picture(const QSize& size) const {
    // A view of its own, laid out at the wanted size without being shown,
    // so the picture does not depend on the window's size or visibility.
    QChartView view;
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.setRenderHint(QPainter::Antialiasing);
    view.setChart(C2DBarGraph::build(data_));
    view.resize(size);
    view.show();
    QCoreApplication::sendPostedEvents();
    return view.grab();
}

}  // namespace kestrel
