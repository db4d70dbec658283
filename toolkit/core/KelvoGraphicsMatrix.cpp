#include "KelvoGraphicsMatrix.h"

#include "KelvoGraphicsSources.h"
#include "PlatformEndian.h"
#include "PlatformFixed.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMovies.h"

#include <cmath>
#include <new>

using kelvo_graphics::SourceKind;

namespace {

// Whole numbers that a 16.16 value holds.
bool fitsFixed(int32_t v) {
    return v >= -32768 && v <= 32767;
}

} // namespace

Kelvo_Matrix::Kelvo_Matrix() {
    SetIdentityMatrix(&_matrix);
}

Kelvo_Matrix::Kelvo_Matrix(const MatrixRecord& record) {
    SetIdentityMatrix(&_matrix);
    CopyMatrix(&record, &_matrix);
}

Kelvo_Matrix::Kelvo_Matrix(const Kelvo_Matrix& other) : Kelvo_QTObj(other), _matrix(other._matrix) {
    _anchor = other._anchor;
}

Kelvo_Matrix::Kelvo_Matrix(Kelvo_QTObj* object) {
    SetIdentityMatrix(&_matrix);
    initWithObject(object);
}

Kelvo_Matrix::Kelvo_Matrix(ComponentInstance importer) {
    SetIdentityMatrix(&_matrix);
    if (importer) GraphicsImportGetMatrix(importer, &_matrix);
}

void Kelvo_Matrix::defaultStatus() {
    _status = 0;
    SetIdentityMatrix(&_matrix);
    _anchor(0, 0);
}

void Kelvo_Matrix::copy(Kelvo_QTObj& other) {
    if (&other != this) initWithObject(&other);
}

Kelvo_QTObj* Kelvo_Matrix::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_Matrix(*this);
}

void Kelvo_Matrix::initWithObject(Kelvo_QTObj* object) {
    if (!isValidInstance(object, _status, false)) {
        defaultStatus();
        return;
    }
    if (object->isA(qtObjName())) {
        auto* other = static_cast<Kelvo_Matrix*>(object);
        CopyMatrix(&other->_matrix, &_matrix);
        _anchor = other->_anchor;
        return;
    }
    switch (kelvo_graphics::kindOf(*object)) {
    case SourceKind::Movie:
        GetMovieMatrix(static_cast<Movie>(object->qtObjReference()), &_matrix);
        break;
    case SourceKind::Track:
        GetTrackMatrix(static_cast<Track>(object->qtObjReference()), &_matrix);
        break;
    case SourceKind::Media:
        if (Track track = GetMediaTrack(static_cast<Media>(object->qtObjReference())))
            GetTrackMatrix(track, &_matrix);
        break;
    case SourceKind::None:
        break;
    }
}

Kelvo_Matrix& Kelvo_Matrix::operator=(const Kelvo_Matrix& other) {
    copy(const_cast<Kelvo_Matrix&>(other));
    return *this;
}

// Assignments from platform objects behave as from a temporary wrapper: a null object makes an
// invalid wrapper with a status, which resets the matrix.
Kelvo_Matrix& Kelvo_Matrix::operator=(Movie movie) {
    if (!movie) {
        defaultStatus();
        return *this;
    }
    _status = 0;
    GetMovieMatrix(movie, &_matrix);
    return *this;
}

Kelvo_Matrix& Kelvo_Matrix::operator=(Track track) {
    if (!track) {
        defaultStatus();
        return *this;
    }
    _status = 0;
    GetTrackMatrix(track, &_matrix);
    return *this;
}

Kelvo_Matrix& Kelvo_Matrix::operator=(Media media) {
    if (!media) {
        defaultStatus();
        return *this;
    }
    _status = 0;
    if (Track track = GetMediaTrack(media)) GetTrackMatrix(track, &_matrix);
    return *this;
}

Kelvo_Matrix& Kelvo_Matrix::operator=(const MatrixRecord& record) {
    if (!EqualMatrix(&record, &_matrix)) CopyMatrix(&record, &_matrix);
    return *this;
}

Kelvo_Matrix& Kelvo_Matrix::operator=(ComponentInstance importer) {
    if (!importer) {
        defaultStatus();
        return *this;
    }
    GraphicsImportGetMatrix(importer, &_matrix);
    return *this;
}

Kelvo_Matrix& Kelvo_Matrix::operator+=(Kelvo_Matrix& other) {
    if (&other != this) ConcatMatrix(&other._matrix, &_matrix);
    return *this;
}

Kelvo_Matrix& Kelvo_Matrix::operator+=(Kelvo_Point& point) {
    if (!point.qtObjIsValid()) return *this;
    if (!fitsFixed(point.x()) || !fitsFixed(point.y())) {
        _status = paramErr;
        return *this;
    }
    _matrix.matrix[2][0] = Long2Fix(point.x());
    _matrix.matrix[2][1] = Long2Fix(point.y());
    return *this;
}

MatrixRecord Kelvo_Matrix::operator!() const {
    MatrixRecord inverse;
    SetIdentityMatrix(&inverse);
    if (!InverseMatrix(&_matrix, &inverse)) SetIdentityMatrix(&inverse);
    return inverse;
}

bool Kelvo_Matrix::operator==(const Kelvo_Matrix& other) const {
    return &other == this || EqualMatrix(&_matrix, &other._matrix);
}

bool Kelvo_Matrix::operator==(const MatrixRecord& record) const {
    return EqualMatrix(&_matrix, &record);
}

Fixed Kelvo_Matrix::operator()(int column, int row) const {
    if (unsigned(column) > 2 || unsigned(row) > 2) return 0;
    return _matrix.matrix[row][column];
}

void Kelvo_Matrix::bounds(Kelvo_Rect& from, Kelvo_Rect& to) {
    if (from.qtObjIsValid() && to.qtObjIsValid()) MapMatrix(&_matrix, from.rPtr(), to.rPtr());
}

void Kelvo_Matrix::setRotation(double degrees) {
    RotateMatrix(&_matrix, X2Fix(degrees), anchorX(), anchorY());
}

void Kelvo_Matrix::setSkew(int32_t sx, int32_t sy) {
    if (!fitsFixed(sx) || !fitsFixed(sy)) {
        _status = paramErr;
        return;
    }
    SkewMatrix(&_matrix, Long2Fix(sx), Long2Fix(sy), anchorX(), anchorY());
}

void Kelvo_Matrix::setScale(double sx, double sy) {
    ScaleMatrix(&_matrix, X2Fix(sx), X2Fix(sy), anchorX(), anchorY());
}

void Kelvo_Matrix::getScale(double& sx, double& sy) const {
    sx = std::fabs(Fix2X(_matrix.matrix[0][0]));
    sy = std::fabs(Fix2X(_matrix.matrix[1][1]));
}

void Kelvo_Matrix::setTranslation(int32_t dx, int32_t dy) {
    if (!fitsFixed(dx) || !fitsFixed(dy)) {
        _status = paramErr;
        return;
    }
    TranslateMatrix(&_matrix, Long2Fix(dx), Long2Fix(dy));
}

void Kelvo_Matrix::getTranslation(int32_t& x, int32_t& y) const {
    x = Fix2Long(_matrix.matrix[2][0]);
    y = Fix2Long(_matrix.matrix[2][1]);
}

void Kelvo_Matrix::setFlip(int32_t flip) {
    if (flip & 1) setScale(-1.0, 1.0);
    if (flip & 2) setScale(1.0, -1.0);
}

int32_t Kelvo_Matrix::getFlip() const {
    return (_matrix.matrix[0][0] < 0 ? 1 : 0) + (_matrix.matrix[1][1] < 0 ? 2 : 0);
}

void Kelvo_Matrix::NtoB(MatrixRecord& record) {
    for (auto& row : record.matrix)
        for (Fixed& v : row)
            v = Fixed(platform::swap32(uint32_t(v)));
}

MatrixRecord Kelvo_Matrix::nativeToBig() const {
    MatrixRecord r = _matrix;
    NtoB(r);
    return r;
}
