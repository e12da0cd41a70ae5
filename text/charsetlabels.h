#pragma once
// Resolves a character-set label to the converters behind it, the way browsers resolve labels.

#include <QByteArray>
#include <QString>

#include <optional>

namespace charset {

// The converters of one encoding: the decoder's and the encoder's names (they differ where the
// decoder is a superset, as GB18030 is of GBK) and the byte-order mark a written file begins with.
struct Codec {
    QByteArray decoderName;
    QByteArray encoderName;
    QByteArray byteOrderMark;
};

// nullopt for a label outside the table ("unknown" included).
std::optional<Codec> resolveLabel(const QString &label);

} // namespace charset
