// fuzz-dict: json.dict
// SidePanel::answerFromBody on arbitrary Ollama reply bodies: the answer is
// the "response" text, cut to MaxShownChars with an ellipsis and never
// through a surrogate pair; anything else shows the empty-answer text.
#include "FuzzSupport.h"
#include "SidePanel.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::captureMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString answer = SidePanel::answerFromBody(body);
    FUZZ_CHECK(!answer.isEmpty());

    const QString response = QJsonDocument::fromJson(body).object().value(QLatin1String("response")).toString();
    if (response.isEmpty() || body.size() > SidePanel::MaxReplyBytes) {
        FUZZ_CHECK(answer == SidePanel::emptyAnswerText());
        return 0;
    }
    if (response.size() <= SidePanel::MaxShownChars) {
        FUZZ_CHECK(answer == response);
        return 0;
    }
    FUZZ_CHECK(answer.size() <= SidePanel::MaxShownChars + 1);
    FUZZ_CHECK(answer.endsWith(QChar(0x2026)));
    const QString shown = answer.chopped(1);
    FUZZ_CHECK(response.startsWith(shown));
    FUZZ_CHECK(shown.size() >= SidePanel::MaxShownChars - 1);
    FUZZ_CHECK(!shown.back().isHighSurrogate());
    return 0;
}
