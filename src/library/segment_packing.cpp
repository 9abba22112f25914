#include "library/segment_packing.h"

#include <QDataStream>
#include <QIODevice>

QByteArray packSegments(const QList<Segment> &segments) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << quint32(segments.size());
    for (const Segment &segment : segments) out << segment.start << segment.end << segment.text.toUtf8();
    // A buffer that could not take every segment is no record of them: nothing is stored.
    if (out.status() != QDataStream::Ok) return {};
    return qCompress(data);
}

QList<Segment> unpackSegments(const QByteArray &packed) {
    const QByteArray data = qUncompress(packed);
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 count = 0;
    in >> count;
    QList<Segment> segments;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        Segment segment;
        QByteArray text;
        in >> segment.start >> segment.end >> text;
        segment.text = QString::fromUtf8(text);
        segments.append(segment);
    }
    if (in.status() != QDataStream::Ok) return {};
    return segments;
}
