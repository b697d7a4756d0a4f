#include "tools/volumewriters.h"

#include <QFile>

#include <itkImageIOBase.h>
#include <itkImageIOFactory.h>
#include <itkMetaImageIOFactory.h>
#include <itkNiftiImageIO.h>
#include <itkNiftiImageIOFactory.h>
#include <itkNrrdImageIOFactory.h>

#include <mutex>
#include <vector>

namespace volumewriters {

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

itk::IOComponentEnum componentOf(Type t)
{
    using C = itk::IOComponentEnum;
    switch (t) {
    case Type::u8:
        return C::UCHAR;
    case Type::s8:
        return C::CHAR;
    case Type::u16:
        return C::USHORT;
    case Type::s16:
        return C::SHORT;
    case Type::u32:
        return C::UINT;
    case Type::s32:
        return C::INT;
    case Type::f32:
        return C::FLOAT;
    case Type::f64:
        return C::DOUBLE;
    }
    return C::UCHAR;
}

}  // namespace

int typeBytes(Type t)
{
    switch (t) {
    case Type::u8:
    case Type::s8:
        return 1;
    case Type::u16:
    case Type::s16:
        return 2;
    case Type::u32:
    case Type::s32:
    case Type::f32:
        return 4;
    case Type::f64:
        return 8;
    }
    return 1;
}

bool write(const QString &path, const Volume &v, QString *error)
{
    static std::once_flag once;
    std::call_once(once, [] {
        itk::NiftiImageIOFactory::RegisterOneFactory();
        itk::NrrdImageIOFactory::RegisterOneFactory();
        itk::MetaImageIOFactory::RegisterOneFactory();
        itk::Object::GlobalWarningDisplayOff();
    });
    if (v.dims < 2 || v.dims > 4)
        return fail(error, QStringLiteral("%1: 2 to 4 dimensions").arg(path));
    long long samples = 1;
    for (int i = 0; i < v.dims; ++i)
        samples *= v.size[i];
    if (v.samples.size() < samples * typeBytes(v.type))
        return fail(error, QStringLiteral("%1: too few samples").arg(path));
    const QByteArray native = QFile::encodeName(path);
    try {
        itk::ImageIOBase::Pointer io =
            itk::ImageIOFactory::CreateImageIO(native.constData(), itk::ImageIOFactory::IOFileModeEnum::WriteMode);
        if (!io)
            return fail(error, QStringLiteral("%1: no writer for this suffix").arg(path));
        const unsigned dims = unsigned(v.dims);
        io->SetNumberOfDimensions(dims);
        itk::ImageIORegion region(dims);
        for (unsigned i = 0; i < dims; ++i) {
            io->SetDimensions(i, itk::SizeValueType(v.size[i]));
            io->SetSpacing(i, v.spacing[i]);
            io->SetOrigin(i, 0.0);
            std::vector<double> axis(dims, 0.0);
            for (unsigned k = 0; k < dims; ++k)
                axis[k] = i < 3 && k < 3 ? v.direction[k][i] : (i == k ? 1.0 : 0.0);
            io->SetDirection(i, axis);
            region.SetIndex(i, 0);
            region.SetSize(i, itk::SizeValueType(v.size[i]));
        }
        io->SetPixelType(itk::IOPixelEnum::SCALAR);
        io->SetNumberOfComponents(1);
        io->SetComponentType(componentOf(v.type));
        io->SetFileName(native.constData());
        io->SetUseCompression(v.compress);
        io->SetIORegion(region);
        if (auto *nifti = dynamic_cast<itk::NiftiImageIO *>(io.GetPointer())) {
            nifti->SetRescaleSlope(v.slope);
            nifti->SetRescaleIntercept(v.intercept);
        }
        io->Write(v.samples.constData());
    } catch (const std::exception &e) {
        return fail(error, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(e.what())));
    }
    return true;
}

}  // namespace volumewriters
