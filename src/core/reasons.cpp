#include "reasons.h"

#include "translate.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <climits>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <initializer_list>

namespace
{

struct TToolMessage {
    TReasonKind Kind;
    const char *Pattern; // case-insensitive regular expression, matched per line
};

// Checked first to last against every printed line: the first row that any
// line matches decides, so the more telling kinds come first (a missing file
// also prints "no images defined").
constexpr std::array<TToolMessage, 26> ToolMessages{{
    {TReasonKind::NoSpace, "no space left on device|disk quota exceeded"},
    {TReasonKind::NoPermission, "permission denied"},
    // ImageMagick 6 reports a file it may not open as an invalid argument.
    {TReasonKind::NoPermission, "unable to open image .*: invalid argument"},
    {TReasonKind::NotFound, "no such file or directory|/undefinedfilename"},
    {TReasonKind::TooLarge, "exceeds limit|too large|cache resources exhausted"},
    {TReasonKind::TooLarge, "memory allocation failed|unable to extend pixel cache"},
    {TReasonKind::NotAnImage, "improper image header|no decode delegate"},
    {TReasonKind::NotAnImage, "not a jpeg file|unrecognized input file format"},
    {TReasonKind::NotAnImage, "not a (png|gif|tiff|bmp) file|invalid bmp file"},
    {TReasonKind::NotAnImage, "unable to read image header|unknown image format"},
    {TReasonKind::Damaged, "insufficient image data|premature end|unexpected end-of-file"},
    {TReasonKind::Damaged, "corrupt|damaged|truncated|crc error"},
    {TReasonKind::Damaged, "can ?not read tiff directory|failed to read directory"},
    {TReasonKind::Damaged, "read exception|negative or zero image size"},
    {TReasonKind::Damaged, "length and filesize do not match|unable to read image data"},
    {TReasonKind::Damaged, "\\*\\*\\*\\* error|error: /|couldn't initiali[sz]e file"},
    {TReasonKind::Damaged, "invalid (sos|jpeg|image|colormap)|bogus|too many ifds"},
    {TReasonKind::Damaged, "improper image size|image data.*missing|unexpected end of file"},
    {TReasonKind::Damaged, "unable to decompress|decode(r)? error|invalid code"},
    {TReasonKind::Damaged, "zero-length|empty input file"},
    {TReasonKind::Damaged, "no pages will be processed|bad (image|file)"},
    {TReasonKind::Damaged, "incorrect (length|header)|unsupported (bits|depth)"},
    {TReasonKind::Damaged, "huffman|marker"},
    {TReasonKind::Damaged, "illegal|invalid"},
    {TReasonKind::Damaged, "unable to read"},
    // Read nothing and said nothing more: the file held no picture it could use.
    {TReasonKind::Damaged, "no images defined"},
}};

const QList<QRegularExpression> &toolPatterns()
{
    static const QList<QRegularExpression> patterns = [] {
        QList<QRegularExpression> list;
        for (const TToolMessage &row : ToolMessages)
            list.append(
                QRegularExpression(QLatin1String(row.Pattern), QRegularExpression::CaseInsensitiveOption));
        return list;
    }();
    return patterns;
}

struct TReasonTexts {
    TReasonKind Kind;
    // ko, en, ja, zh, ru, it, fr
    std::array<const char *, 7> Texts;
};

constexpr std::array<const char *, 7> Languages{"ko", "en", "ja", "zh", "ru", "it", "fr"};

constexpr std::array<TReasonTexts, 14> ReasonTexts{{
    {TReasonKind::Damaged,
     {"파일이 손상되었거나 잘려 있습니다", "the file is damaged or truncated",
      "ファイルが壊れているか途中で切れています", "文件已损坏或不完整", "файл повреждён или обрезан",
      "il file è danneggiato o troncato", "le fichier est endommagé ou tronqué"}},
    {TReasonKind::NotAnImage,
     {"이미지 파일이 아닙니다", "the file is not an image", "画像ファイルではありません", "该文件不是图像",
      "файл не является изображением", "il file non è un'immagine", "le fichier n'est pas une image"}},
    {TReasonKind::NoPermission,
     {"파일을 읽을 권한이 없습니다", "no permission to read the file", "ファイルを読む権限がありません",
      "没有读取该文件的权限", "нет прав на чтение файла", "nessun permesso di leggere il file",
      "pas le droit de lire le fichier"}},
    {TReasonKind::TooLarge,
     {"이미지가 너무 큽니다", "the picture is too large", "画像が大きすぎます", "图像太大",
      "изображение слишком большое", "l'immagine è troppo grande", "l'image est trop grande"}},
    {TReasonKind::PageFailed,
     {"%2쪽 중 %1쪽 실패: %3", "page %1 of %2 failed: %3", "%2 ページ中 %1 ページ目が失敗しました: %3",
      "第 %1 页（共 %2 页）失败：%3", "страница %1 из %2 не получилась: %3",
      "pagina %1 di %2 non riuscita: %3", "échec de la page %1 sur %2 : %3"}},
    {TReasonKind::TimedOut,
     {"%1초가 지나 중단되었습니다", "timed out after %1 s", "%1 秒でタイムアウトしました", "%1 秒后超时",
      "прервано по тайм-ауту через %1 с", "tempo scaduto dopo %1 s", "délai dépassé après %1 s"}},
    {TReasonKind::Cancelled,
     {"취소되었습니다", "cancelled", "キャンセルされました", "已取消", "отменено", "annullato", "annulé"}},
    {TReasonKind::NoSpace,
     {"디스크에 남은 공간이 없습니다", "no space left on the disk", "ディスクの空き容量がありません",
      "磁盘空间不足", "на диске нет места", "spazio su disco esaurito", "plus de place sur le disque"}},
    {TReasonKind::NameNotAvailable,
     {"출력 파일 이름을 쓸 수 없습니다", "the output name is not available", "出力ファイル名を使えません",
      "无法使用输出文件名", "имя выходного файла недоступно", "il nome del file di uscita non è disponibile",
      "le nom du fichier de sortie n'est pas disponible"}},
    {TReasonKind::ToolMissing,
     {"필요한 프로그램이 없거나 실행되지 않습니다", "a program it needs is missing or does not start",
      "必要なプログラムが見つからないか起動できません", "所需的程序缺失或无法启动",
      "нужная программа отсутствует или не запускается", "un programma necessario manca o non si avvia",
      "un programme nécessaire est absent ou ne démarre pas"}},
    {TReasonKind::NotFound,
     {"파일을 찾을 수 없습니다", "the file was not found", "ファイルが見つかりません", "找不到该文件",
      "файл не найден", "file non trovato", "fichier introuvable"}},
    {TReasonKind::BadName,
     {"이름이 올바른 UTF-8이 아닙니다. 이름을 바꾸세요", "the name is not valid UTF-8; rename it",
      "名前が正しい UTF-8 ではありません。名前を変更してください", "名称不是有效的 UTF-8，请重命名",
      "имя не в кодировке UTF-8; переименуйте", "il nome non è UTF-8 valido; rinominalo",
      "le nom n'est pas en UTF-8 valide ; renommez-le"}},
    {TReasonKind::FolderUnreadable,
     {"폴더를 읽을 수 없습니다", "the folder cannot be read", "フォルダーを読み取れません",
      "无法读取该文件夹", "папку невозможно прочитать", "impossibile leggere la cartella",
      "impossible de lire le dossier"}},
    {TReasonKind::Other,
     {"변환하지 못했습니다", "the conversion failed", "変換できませんでした", "转换失败",
      "не удалось преобразовать", "conversione non riuscita", "la conversion a échoué"}},
}};

// "(limit 16000×16000 pixels)" in each language.
constexpr std::array<const char *, 7> LimitTexts{
    "(한도 %1 픽셀)",       "(limit %1 pixels)", "（上限 %1 ピクセル）", "（上限 %1 像素）",
    "(предел %1 пикселей)", "(limite %1 pixel)", "(limite %1 pixels)",
};

int languageIndex(const QString &language)
{
    const QString code = language.isEmpty() ? CurrentLanguage() : language;
    for (size_t i = 0; i < Languages.size(); ++i) {
        if (code == QLatin1String(Languages[i]))
            return int(i);
    }
    return 1;
}

QString textOf(TReasonKind kind, int language)
{
    for (const TReasonTexts &row : ReasonTexts) {
        if (row.Kind == kind)
            return QString::fromUtf8(row.Texts[size_t(language)]);
    }
    return textOf(TReasonKind::Other, language);
}

// The engine's own words for failures it finds before or after a tool run.
TReasonKind engineKind(const QString &reason)
{
    const auto has = [&reason](const char *text) { return reason.contains(QLatin1String(text)); };
    if (reason == QLatin1String("cancelled"))
        return TReasonKind::Cancelled;
    if (has("no space left"))
        return TReasonKind::NoSpace;
    if (has("source file missing"))
        return TReasonKind::NotFound;
    if (reason.endsWith(QLatin1String(" missing")) || has("program missing"))
        return TReasonKind::ToolMissing;
    if (has("not a supported image") || has("source is not a regular file"))
        return TReasonKind::NotAnImage;
    if (has("output name not available") || has("output could not be written"))
        return TReasonKind::NameNotAvailable;
    if (has("too large"))
        return TReasonKind::TooLarge;
    return TReasonKind::None;
}

} // namespace

TReasonKind ClassifyToolText(const QString &printed)
{
    // An image tool built without its message texts (the Windows build)
    // prints the messages' tags ("ImproperImageHeader"): they are read as
    // the words they stand for ("Improper Image Header").
    static const QRegularExpression tagWords(QStringLiteral("([a-z])([A-Z])"));
    QString text = printed;
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = (text + QLatin1Char('\n') + QString(text).replace(tagWords, QStringLiteral("\\1 \\2")))
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QList<QRegularExpression> &patterns = toolPatterns();
    for (qsizetype row = 0; row < patterns.size(); ++row) {
        for (const QString &line : lines) {
            if (patterns[row].match(line).hasMatch())
                return ToolMessages[size_t(row)].Kind;
        }
    }
    return TReasonKind::Other;
}

TReason ExplainFailure(const QString &engineReason, const QString &printed)
{
    TReason reason;
    static const QRegularExpression page(QStringLiteral("^pages? (\\d+)[0-9, ]* of (\\d+) failed: (.*)$"),
                                         QRegularExpression::DotMatchesEverythingOption);
    if (const QRegularExpressionMatch m = page.match(engineReason); m.hasMatch()) {
        reason.Kind = TReasonKind::PageFailed;
        reason.Page = m.captured(1).toInt();
        reason.Pages = m.captured(2).toInt();
        const TReason inner = ExplainFailure(m.captured(3), printed);
        reason.PageKind = inner.Kind;
        reason.Limit = inner.Limit;
        reason.Seconds = inner.Seconds;
        return reason;
    }
    static const QRegularExpression timeout(QStringLiteral("timed out after (\\d+) s"));
    if (const QRegularExpressionMatch m = timeout.match(engineReason); m.hasMatch()) {
        reason.Kind = TReasonKind::TimedOut;
        reason.Seconds = m.captured(1).toInt();
        return reason;
    }
    reason.Kind = engineKind(engineReason);
    if (reason.Kind == TReasonKind::None)
        reason.Kind = ClassifyToolText(engineReason + QLatin1Char('\n') + printed);
    if (reason.Kind == TReasonKind::TooLarge) {
        static const QRegularExpression size(QStringLiteral("takes at most (\\d+)x(\\d+)"));
        if (const QRegularExpressionMatch m = size.match(engineReason); m.hasMatch())
            reason.Limit = m.captured(1) + QChar(0xD7) + m.captured(2);
    }
    return reason;
}

namespace
{
// The picture size a file's header promises. A PNG's is read from its IHDR
// chunk directly: the PNG decoder prints its complaints about a damaged
// file to standard error, past any logging rule.
QSize headerSize(QFile &file)
{
    const QByteArray head = file.peek(24);
    if (head.size() == 24 && head.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)) && head.mid(12, 4) == "IHDR") {
        const auto be32 = [&head](int at) {
            return qint64(quint8(head[at])) << 24 | quint8(head[at + 1]) << 16 | quint8(head[at + 2]) << 8 |
                   quint8(head[at + 3]);
        };
        return QSize(int(std::min<qint64>(be32(16), INT_MAX)), int(std::min<qint64>(be32(20), INT_MAX)));
    }
    if (head.startsWith(QByteArray("\x89PNG", 4)))
        return QSize();
    return QImageReader(&file).size();
}
} // namespace

TReason ExplainFileFailure(const QString &sourcePath, const QString &engineReason, const QString &printed,
                           qint64 limitWidth, qint64 limitHeight)
{
    TReason reason = ExplainFailure(engineReason, printed);
    const auto decided = {TReasonKind::Cancelled,   TReasonKind::TimedOut, TReasonKind::PageFailed,
                          TReasonKind::ToolMissing, TReasonKind::NoSpace,  TReasonKind::NameNotAvailable};
    if (std::find(decided.begin(), decided.end(), reason.Kind) != decided.end())
        return reason;
    const QFileInfo info(sourcePath);
    if (!info.exists()) {
        reason.Kind = TReasonKind::NotFound;
        return reason;
    }
    // A pipe or a device is never opened: reading it could block.
    if (!info.isFile())
        return reason;
    QFile file(sourcePath);
    if (!file.open(QIODevice::ReadOnly)) {
        reason.Kind = TReasonKind::NoPermission;
        return reason;
    }
    // Only when the tool read no image at all is the header looked at: a
    // damaged file's decoder would only complain on standard error.
    if (reason.Kind != TReasonKind::TooLarge && !printed.contains(QLatin1String("no images defined")))
        return reason;
    // A header that promises more pixels than the tool may hold: the tool
    // often only says it read no image.
    const QSize size = headerSize(file);
    const bool over =
        (limitWidth > 0 && size.width() > limitWidth) || (limitHeight > 0 && size.height() > limitHeight);
    if (over || reason.Kind == TReasonKind::TooLarge) {
        reason.Kind = TReasonKind::TooLarge;
        if (reason.Limit.isEmpty() && limitWidth > 0 && limitHeight > 0)
            reason.Limit = QString::number(limitWidth) + QChar(0xD7) + QString::number(limitHeight);
    }
    return reason;
}

QString ReasonText(const TReason &reason, const QString &language)
{
    const int lang = languageIndex(language);
    switch (reason.Kind) {
    case TReasonKind::None:
        return QString();
    case TReasonKind::TooLarge:
        return reason.Limit.isEmpty() ? textOf(reason.Kind, lang)
                                      : textOf(reason.Kind, lang) + QLatin1Char(' ') +
                                            QString::fromUtf8(LimitTexts[size_t(lang)]).arg(reason.Limit);
    case TReasonKind::TimedOut:
        return textOf(reason.Kind, lang).arg(reason.Seconds);
    case TReasonKind::PageFailed: {
        TReason page = reason;
        page.Kind = reason.PageKind == TReasonKind::PageFailed ? TReasonKind::Other : reason.PageKind;
        return textOf(reason.Kind, lang)
            .arg(QString::number(reason.Page), QString::number(reason.Pages), ReasonText(page, language));
    }
    default:
        return textOf(reason.Kind, lang);
    }
}
