// Mails and mbox spools read as a mail client shows them: the addresses of the decoded text,
// held to GMime's object parser on every message, and other text passed through unchanged.
#include "engine/chunk_reader.h"
#include "engine/chunk_scanner.h"
#include "engine/mail_decoding_source.h"
#include "tests/support/gmime_reference.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

using namespace orlenta;

namespace {

// One member of bytes, handed out a few at a time so that lines are cut across reads.
class BytesSource final : public ByteSource {
public:
    explicit BytesSource(QByteArray bytes) : bytes_(std::move(bytes)) {}
    bool nextMember() override { return !std::exchange(started_, true); }
    long read(char* data, std::size_t size) override {
        const std::size_t count =
            std::min<std::size_t>({size, 7, static_cast<std::size_t>(bytes_.size()) - pos_});
        std::memcpy(data, bytes_.constData() + pos_, count);
        pos_ += count;
        return static_cast<long>(count);
    }
    std::string error() const override { return {}; }

private:
    QByteArray bytes_;
    std::size_t pos_ = 0;
    bool started_ = false;
};

QByteArray Decoded(const QByteArray& bytes, MailDecodingSource::Kind& kind) {
    MailDecodingSource source(std::make_unique<BytesSource>(bytes));
    QByteArray decoded;
    if (source.nextMember()) {
        char buffer[11];
        long count = 0;
        while ((count = source.read(buffer, sizeof buffer)) > 0) {
            decoded.append(buffer, count);
        }
    }
    kind = source.kind();
    return decoded;
}

// The distinct addresses of `text` (compared without regard to case), in text order, joined
// by spaces: as orlenta-extract --mail finds them when `chunked` (the text cut into chunks of
// ChunkSize bytes), as a reader of the whole text does otherwise.
QByteArray Addresses(std::string_view text, bool chunked) {
    std::vector<std::string_view> found;
    const std::size_t step = chunked ? ChunkSize : std::max<std::size_t>(text.size(), 1);
    for (std::size_t at = 0; at < text.size(); at += step) {
        FindAddresses(text.substr(at, step), found, LoneLf::EndsToken);
    }
    QList<QByteArray> distinct;
    for (std::string_view address : found) {
        const QByteArray bytes(address.data(), static_cast<qsizetype>(address.size()));
        if (std::none_of(distinct.begin(), distinct.end(), [&bytes](const QByteArray& seen) {
                return seen.compare(bytes, Qt::CaseInsensitive) == 0;
            })) {
            distinct << bytes;
        }
    }
    return distinct.join(' ');
}

const QByteArray MimeHeaders =
    "From: Zed <zed@example.net>\r\nTo: you@example.com\r\nSubject: hi\r\nMIME-Version: 1.0\r\n";

}  // namespace

class MailDecodingTest final : public QObject {
    Q_OBJECT

private slots:
    void readAsAMailClientShowsIt_data();
    void readAsAMailClientShowsIt();
};

void MailDecodingTest::readAsAMailClientShowsIt_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("addresses");

    const int mail = int(MailDecodingSource::Kind::Mail);
    QTest::newRow("quoted-printable: no 3D glued to an address after =3D")
        << MimeHeaders +
               "Content-Type: text/plain\r\nContent-Transfer-Encoding: "
               "quoted-printable\r\n\r\nwrite to =3Dann@example.org today\r\n"
        << mail << QByteArray("zed@example.net you@example.com ann@example.org");
    QTest::newRow("quoted-printable: a soft line break inside an address is joined")
        << MimeHeaders +
               "Content-Transfer-Encoding: Quoted-Printable\r\n\r\nmail "
               "bob.very.long.name@exam=\r\nple.com now=20\r\n"
        << mail << QByteArray("zed@example.net you@example.com bob.very.long.name@example.com");
    QTest::newRow("base64 text and HTML parts are decoded")
        << MimeHeaders +
               "Content-Type: multipart/alternative; boundary=\"b1\"\r\n\r\npreamble\r\n"
               "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n" +
               QByteArray("write to carol@example.org\r\n").toBase64() +
               "\r\n--b1\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
               QByteArray("<a href=\"mailto:dan@example.org\">Dan</a>").toBase64() +
               "\r\n--b1--\r\nepilogue\r\n"
        << mail << QByteArray("zed@example.net you@example.com carol@example.org dan@example.org");
    QTest::newRow("encoded words in headers are decoded")
        << QByteArray(
               "From: =?UTF-8?Q?Ann_L=C3=A9e?= <ann@example.com>\n"
               "Cc: =?utf-8?B?") +
               QByteArray("eve@example.org").toBase64() +
               "?=\nSubject: =?ISO-8859-1?Q?write_to_=3Dfay@example.org?=\n\nbody\n"
        << mail << QByteArray("ann@example.com eve@example.org fay@example.org");
    QTest::newRow("a binary attachment is read as it is, not decoded")
        << MimeHeaders +
               "Content-Type: multipart/mixed; boundary=outer\r\n\r\n"
               "--outer\r\nContent-Type: text/plain\r\n\r\nsee gil@example.org\r\n"
               "--outer\r\nContent-Type: application/octet-stream\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n" +
               QByteArray("\x01\x02 hid@example.org \xff", 20).toBase64() + "\r\n--outer--\r\n"
        << mail << QByteArray("zed@example.net you@example.com gil@example.org");
    QTest::newRow("a forwarded mail in a message/rfc822 part is read as a mail")
        << MimeHeaders +
               "Content-Type: multipart/mixed; boundary=\"=_x\"\r\n\r\n--=_x\r\n"
               "Content-Type: message/rfc822\r\n\r\nFrom: =?UTF-8?Q?H?= "
               "<hal@example.org>\r\nContent-Transfer-Encoding: quoted-printable\r\n"
               "\r\nto =3Dida@example.org\r\n--=_x--\r\n"
        << mail << QByteArray("zed@example.net you@example.com hal@example.org ida@example.org");
    QTest::newRow("mbox: several messages, >From lines, LF ends")
        << QByteArray(
               "From zed@example.net Mon Jan  1 00:00:00 2024\n"
               "From: zed@example.net\nSubject: one\n\n>From jon@example.org said\n\n"
               "From kim@example.org Mon Jan  1 00:00:01 2024\n"
               "From: kim@example.org\nContent-Transfer-Encoding: quoted-printable\n\n"
               "to =3Dlee@example.org\n\n"
               "From mia@example.org Mon Jan  1 00:00:02 2024\n"
               "From: mia@example.org\nContent-Type: text/plain\n"
               "Content-Transfer-Encoding: base64\n\n") +
               QByteArray("nia@example.org").toBase64() + "\n"
        << int(MailDecodingSource::Kind::Mbox)
        << QByteArray(
               "zed@example.net jon@example.org kim@example.org lee@example.org mia@example.org "
               "nia@example.org");
    QTest::newRow("an address where the decoded text meets a chunk border is not cut")
        << "From: zed@example.net\n\n" + QByteArray("x\n").repeated(14985) + "ann@example.org\n"
        << mail << QByteArray("zed@example.net ann@example.org");
    QTest::newRow("text that is no mail passes through unchanged")
        << QByteArray("name: ann\nplain text =3Dbob@example.org\r\nend")
        << int(MailDecodingSource::Kind::Other) << QByteArray("3Dbob@example.org");
}

void MailDecodingTest::readAsAMailClientShowsIt() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(QByteArray, addresses);

    MailDecodingSource::Kind taken = MailDecodingSource::Kind::Undecided;
    const QByteArray decoded = Decoded(bytes, taken);
    QCOMPARE(int(taken), kind);
    QCOMPARE(Addresses(decoded.toStdString(), true), addresses);
    if (taken == MailDecodingSource::Kind::Other) {
        QCOMPARE(decoded, bytes);
    } else {
        const std::string reference = MailAsGMimeShowsIt(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
            taken == MailDecodingSource::Kind::Mbox);
        QCOMPARE(Addresses(reference, false), addresses);
    }
}

QTEST_APPLESS_MAIN(MailDecodingTest)
#include "tst_mail_decoding.moc"
