#include "shell/list_file_io.h"

#include <QFile>
#include <QSaveFile>

namespace ormbrook {

bool ReadOrCreateListFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray all = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return false;
        bytes.assign(all.constData(), size_t(all.size()));
        return true;
    }
    if (file.exists())
        return false;
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
}

bool SaveListFile(const std::string& path, std::string_view bytes)
{
    QSaveFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace ormbrook
