#include "platform/SerialPortList.h"

#include <QSerialPortInfo>

#include <algorithm>

QStringList SortPortNames(QStringList names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        if (a.size() != b.size()) return a.size() < b.size();
        return QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    names.removeDuplicates();
    return names;
}

QStringList PortChoices() {
    QStringList names;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) names << port.portName();
    QStringList choices = SortPortNames(names);
    choices << QStringLiteral("USB") << QStringLiteral("ActiveSync");
    return choices;
}
