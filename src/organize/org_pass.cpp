#include "organize/org_pass.h"

#include "correction/correction_error.h"

QString errorText(const std::exception &error) {
    if (auto *correction = dynamic_cast<const CorrectionError *>(&error)) return correction->errorDescription();
    return QString::fromUtf8(error.what());
}
