// Signed releases: manifests, minisign signatures made by the real minisign,
// trusted keys, the last accepted release, and zembo-release end to end.
#include "release/release.h"

#include "platform/files.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int ExitCode = -1;
    QString Out;
};

TRun RunProgram(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    EXPECT_TRUE(process.waitForFinished(20000)) << program.toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

// A minisign key pair without password: NAME.pub and NAME.key in the folder.
struct TKeyPair {
    QString PublicFile, SecretFile;
    QByteArray PublicText() const { return ReadBytes(PublicFile); }
    // The id minisign prints in the public key's comment.
    QString KeyId() const { return QString::fromLatin1(PublicText().split('\n')[0]).section(u' ', -1); }
};

TKeyPair MakeKey(const TScratchDir& dir, const QString& name)
{
    TKeyPair pair{dir.File(name + ".pub"), dir.File(name + ".key")};
    const TRun run = RunProgram("minisign", {"-G", "-W", "-f", "-p", pair.PublicFile, "-s", pair.SecretFile});
    EXPECT_EQ(run.ExitCode, 0) << run.Out.toStdString();
    return pair;
}

QByteArray Sign(const TKeyPair& key, const QString& file, bool legacy)
{
    QStringList args{"-S", "-s", key.SecretFile, "-m", file, "-x", file + ".minisig"};
    if (legacy)
        args.prepend("-l");
    const TRun run = RunProgram("minisign", args);
    EXPECT_EQ(run.ExitCode, 0) << run.Out.toStdString();
    return ReadBytes(file + ".minisig");
}

QByteArray ManifestText(qint64 serial)
{
    const QByteArray abc = QByteArray::fromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    return FormatManifest({serial, "2026-05-01", {{QString::fromUtf8("Ação é.dat"), 3, abc}}, {}});
}

QString Failure(const std::function<void()>& f)
{
    return FailureOf<EReleaseError>(f);
}

} // namespace

TEST(Release, ManifestOfFolderKeepsNamesAndRoundTrips)
{
    TScratchDir dir;
    WriteBytes(dir.File(QString::fromUtf8(" dois  espaços ")), "abc");
    WriteBytes(dir.File(QString::fromUtf8("Ação é.dat")), "");
    WriteBytes(dir.File(".oculto"), "x");
    WriteBytes(dir.File("sub/dentro.txt"), "not listed: folders are not entered");
    WriteBytes(dir.File(ReleaseManifestName), "old");
    WriteBytes(dir.File(ReleaseSignatureName), "old");

    const TManifest manifest = MakeManifest(dir.Path(), 12);
    QStringList names;
    for (const TManifestEntry& e : manifest.Files)
        names.append(e.Name);
    EXPECT_EQ(names, (QStringList{QString::fromUtf8(" dois  espaços "), ".oculto", QString::fromUtf8("Ação é.dat")}));
    const QByteArray text = FormatManifest(manifest);
    EXPECT_TRUE(text.startsWith("zembo-release 1\nserial 12\ndate " + manifest.Date.toLatin1() + "\n\n"
                                "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad 3  dois  espa\xC3\xA7os \n"));
    const TManifest parsed = ParseManifest(text);
    EXPECT_EQ(FormatManifest(parsed), text);
    ASSERT_NE(parsed.Find(QString::fromUtf8("Ação é.dat")), nullptr);
    EXPECT_EQ(parsed.Find(QString::fromUtf8("Ação é.dat"))->Size, 0);

    WriteBytes(dir.File("linha\nquebrada"), "");
    EXPECT_TRUE(Failure([&] { MakeManifest(dir.Path(), 1); }).contains("caractere de controle"));
}

TEST(Release, MalformedManifestsRefused)
{
    const QByteArray head = "zembo-release 1\nserial 3\ndate 2026-05-01\n\n";
    const QByteArray hash = QByteArray(64, 'a');
    const struct {
        QByteArray Text;
        const char* Why;
    } rows[] = {
        {"zembo-release 2\nserial 3\ndate 2026-05-01\n\n", "(linha 1)"},
        {"zembo-release 1\nserial 0\ndate 2026-05-01\n\n", "(linha 2): o número da versão"},
        {"zembo-release 1\nserial -4\ndate 2026-05-01\n\n", "(linha 2)"},
        {"zembo-release 1\nserial 3x\ndate 2026-05-01\n\n", "(linha 2)"},
        {"zembo-release 1\nserial 3\ndate 2026-02-30\n\n", "(linha 3): data"},
        {"zembo-release 1\nserial 3\ndate 2026-05-01\nx\n", "(linha 4)"},
        {"zembo-release 1\nserial 3\ndate 2026-05-01\nexpires 2026-13-01\n\n", "(linha 4): validade"},
        {"zembo-release 1\nserial 3\ndate 2026-05-01\nexpires 2026-06-01\nexpires 2027-06-01\n\n", "(linha 5): \"expires\" repetido"},
        {"zembo-release 1\nserial 3\ndate 2026-05-01\nespelho ftp://outro\n", "(linha 5): esperada uma linha em branco"},
        {"zembo-release 1\nserial 3\ndate 2026-05-01\nserial 9\n\n", "(linha 4): \"serial\" repetido"},
        {head + QByteArray(63, 'a') + " 1 a\n", "(linha 5): SHA-256"},
        {head + QByteArray(63, 'a') + "g 1 a\n", "(linha 5): SHA-256"},
        {head + hash + " -1 a\n", "(linha 5): tamanho"},
        {head + hash + " 1\n", "(linha 5): esperado"},
        {head + hash + " 1 a\n" + hash + " 2 a\n", "(linha 6): \"a\" listado duas vezes"},
        {head + hash + " 1 d/a\n", "separador"},
        {head + hash + " 1 d\\a\n", "separador"},
        {head + hash + " 1 a\x01z\n", "controle"},
        {head + hash + " 1 a\rz\n", "controle"},
        {head + hash + " 1 .\n", "não permitido"},
        {head + hash + " 1 ..\n", "não permitido"},
        {head + hash + " 1 \n", "vazio"},
        {head + hash + " 1 a", "sem fim de linha"},
        {head + hash + " 1 caf\xE9\n", "UTF-8"},
        {head + hash + " 1 " + QByteArray(MaxReleaseFileSize, 'a') + "\n", "maior que"},
    };
    for (const auto& row : rows) {
        const QString failure = Failure([&] { ParseManifest(row.Text); });
        EXPECT_TRUE(failure.startsWith(QString::fromUtf8("Manifesto da versão inválido")) && failure.contains(QString::fromUtf8(row.Why)))
            << row.Text.left(200).toStdString() << " -> " << failure.toStdString();
    }
}

TEST(Release, MinisignSignaturesVerified)
{
    TScratchDir dir;
    const TKeyPair mine = MakeKey(dir, "mine"), other = MakeKey(dir, "other");
    const QList<TPublicKey> trusted = ParsePublicKeys(mine.PublicText());
    ASSERT_EQ(trusted.size(), 1);
    const QByteArray manifest = ManifestText(4);
    WriteBytes(dir.File("m.txt"), manifest);

    for (const bool legacy : {true, false}) {
        SCOPED_TRACE(legacy ? "legacy" : "prehashed");
        const QByteArray signature = Sign(mine, dir.File("m.txt"), legacy);
        EXPECT_TRUE(signature.split('\n')[1].startsWith(legacy ? "RW" : "RU")); // "Ed" or "ED"
        const TSignedRelease release = VerifyRelease(manifest, signature, trusted);
        EXPECT_EQ(release.Manifest.Serial, 4);
        EXPECT_EQ(release.KeyId, mine.KeyId());
        EXPECT_TRUE(release.TrustedComment.contains("file:m.txt"));

        QByteArray changed = manifest;
        changed[changed.size() - 3] = 'X';
        QByteArray tampered = signature;
        tampered.replace("file:m.txt", "file:n.txt");
        QByteArray garbled = signature;
        garbled.replace(garbled.indexOf('\n') + 5, 1, "!");
        const struct {
            QByteArray Manifest, Signature, Why;
        } refused[] = {
            {changed, signature, "o manifesto não confere"},
            {manifest, tampered, "comentário confiável foi alterado"},
            {manifest, "", "Assinatura da versão ausente"},
            {manifest, garbled, "Assinatura da versão ilegível"},
            {manifest, signature.left(signature.size() / 2), "Assinatura da versão ilegível"},
            {manifest, Sign(other, dir.File("m.txt"), legacy), "chave desconhecida (" + other.KeyId().toLatin1() + ")"},
        };
        for (const auto& row : refused)
            EXPECT_TRUE(Failure([&] { VerifyRelease(row.Manifest, row.Signature, trusted); }).contains(QString::fromUtf8(row.Why)))
                << row.Why.toStdString();
    }

    // Well signed, badly formed: the manifest's own fault is named.
    WriteBytes(dir.File("bad.txt"), "zembo-release 1\nserial 0\n");
    EXPECT_TRUE(Failure([&] { VerifyRelease(ReadBytes(dir.File("bad.txt")), Sign(mine, dir.File("bad.txt"), false), trusted); })
                    .startsWith(QString::fromUtf8("Manifesto da versão inválido")));
}

TEST(Release, TrustedKeysFromSettingAndRootOwnedFile)
{
    TScratchDir dir;
    const TKeyPair a = MakeKey(dir, "a"), b = MakeKey(dir, "b"), c = MakeKey(dir, "c");
    const QByteArray lineA = a.PublicText().split('\n')[1], lineB = b.PublicText().split('\n')[1];
    const QString file = dir.File("release-keys.pub");
    qputenv("ZEMBO_RELEASE_KEYS", QFile::encodeName(file));

    EXPECT_EQ(TrustedKeys("").size(), 0); // a missing file adds none
    EXPECT_EQ(TrustedKeys(" " + lineA + " ;" + lineB + "\n").size(), 2);
    EXPECT_TRUE(Failure([&] { TrustedKeys(lineA + ";RWQ"); }).startsWith("Chaves compiladas no programa"));
    WriteBytes(file, "# chaves da versão\n\n" + c.PublicText() + a.PublicText());
    const QList<TPublicKey> keys = TrustedKeys(lineB);
    ASSERT_EQ(keys.size(), 3);
    EXPECT_EQ(keys[1].KeyId, ParsePublicKeys(c.PublicText())[0].KeyId);

    const struct {
        QFileDevice::Permissions Permissions;
        uint Owner;
        const char* Why;
    } refused[] = {
        {QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::WriteGroup, 0, "modo 660"},
        {QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::WriteOther, 0, "modo 602"},
        {QFileDevice::ReadOwner | QFileDevice::WriteOwner, 1234, "dono 1234"},
    };
    for (const auto& row : refused) {
        WriteBytes(file, a.PublicText());
        ASSERT_TRUE(QFile::setPermissions(file, row.Permissions));
        if (row.Owner != 0 && RunProgram("chown", {QString::number(row.Owner), file}).ExitCode != 0)
            continue; // not root: the test cannot give the file away
        EXPECT_TRUE(Failure([] { TrustedKeys(""); }).contains(row.Why)) << row.Why;
        QFile::remove(file);
    }
    WriteBytes(file, a.PublicText() + "RWQ-not-a-key\n");
    EXPECT_TRUE(Failure([] { TrustedKeys(""); }).contains(QString::fromUtf8("ilegível (linha 3)")));
    qunsetenv("ZEMBO_RELEASE_KEYS");
}

// Every folder above the key file is judged as the file: root's and
// writable by no one else, or sticky and root's (as /tmp). A link is judged
// where it leads; what is not a regular file is not read.
TEST(Release, KeyFileInAFolderOthersMayChangeRefused)
{
    TScratchDir dir;
    const TKeyPair a = MakeKey(dir, "a");
    const QString folder = dir.File("chaves"), file = folder + "/release-keys.pub";
    WriteBytes(file, a.PublicText());
    ASSERT_EQ(RunProgram("chmod", {"644", file}).ExitCode, 0);
    qputenv("ZEMBO_RELEASE_KEYS", QFile::encodeName(file));
    const struct {
        const char* Mode;
        uint Owner;
        const char* Why; // empty: trusted
    } rows[] = {
        {"755", 0, ""},
        {"1777", 0, ""},
        {"775", 0, "pode alterar a pasta"},
        {"757", 0, "modo 757"},
        {"1777", 1234, "dono 1234"},
        {"700", 1234, "dono 1234"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.Mode) + " " + std::to_string(row.Owner));
        ASSERT_EQ(RunProgram("chmod", {row.Mode, folder}).ExitCode, 0);
        ASSERT_EQ(RunProgram("chown", {QString::number(row.Owner), folder}).ExitCode, 0);
        if (*row.Why == 0) {
            EXPECT_EQ(TrustedKeys("").size(), 1);
            continue;
        }
        const QString failure = Failure([] { TrustedKeys(""); });
        EXPECT_TRUE(failure.contains(QString::fromUtf8(row.Why)) && failure.contains(folder)) << failure.toStdString();
    }

    // A link in a safe folder to a key in a folder others may write.
    ASSERT_EQ(RunProgram("chown", {"0", folder}).ExitCode, 0);
    ASSERT_EQ(RunProgram("chmod", {"777", folder}).ExitCode, 0);
    const QString link = dir.File("release-keys.pub");
    ASSERT_TRUE(QFile::link(file, link));
    qputenv("ZEMBO_RELEASE_KEYS", QFile::encodeName(link));
    EXPECT_TRUE(Failure([] { TrustedKeys(""); }).contains(QString::fromUtf8("pode alterar a pasta ") + folder));
    ASSERT_EQ(RunProgram("chmod", {"755", folder}).ExitCode, 0);
    EXPECT_EQ(TrustedKeys("").size(), 1);

    QFile::remove(file);
    ASSERT_EQ(RunProgram("mkfifo", {"-m", "644", file}).ExitCode, 0);
    EXPECT_TRUE(Failure([] { TrustedKeys(""); }).contains(QString::fromUtf8("ilegível"))); // and not waiting for a writer
    qunsetenv("ZEMBO_RELEASE_KEYS");
}

// An older serial, or the accepted serial with other bytes, is refused; the
// accepted manifest itself passes again.
TEST(Release, OlderReleaseThanAcceptedRefused)
{
    TScratchDir dir;
    EXPECT_EQ(LastAcceptedSerial(dir.Path()), 0);
    AcceptRelease(dir.Path(), ManifestText(5));
    EXPECT_EQ(LastAcceptedSerial(dir.Path()), 5);
    EXPECT_EQ(ReadBytes(dir.File(AcceptedReleaseName)), ManifestText(5));
    EXPECT_NO_THROW(CheckAgainstAccepted(dir.Path(), ManifestText(5)));
    EXPECT_NO_THROW(AcceptRelease(dir.Path(), ManifestText(5)));
    EXPECT_TRUE(Failure([&] { CheckAgainstAccepted(dir.Path(), ManifestText(4)); })
                    .contains(QString::fromUtf8("Versão 4 recusada: é mais antiga que a versão 5")));
    EXPECT_TRUE(Failure([&] { AcceptRelease(dir.Path(), ManifestText(4)); }).contains("Versão 4 recusada"));
    const QByteArray other = FormatManifest({5, "2026-05-02", ParseManifest(ManifestText(5)).Files, {}});
    EXPECT_TRUE(Failure([&] { CheckAgainstAccepted(dir.Path(), other); })
                    .contains(QString::fromUtf8("Versão 5 recusada: tem o número da versão já aceita nesta instalação, mas outro manifesto")));
    EXPECT_TRUE(Failure([&] { AcceptRelease(dir.Path(), other); }).contains(QString::fromUtf8("Versão 5 recusada")));
    EXPECT_EQ(ReadBytes(dir.File(AcceptedReleaseName)), ManifestText(5));
    AcceptRelease(dir.Path(), ManifestText(6));
    EXPECT_EQ(LastAcceptedSerial(dir.Path()), 6);

    WriteBytes(dir.File(AcceptedReleaseName), "zembo-release 1\n");
    EXPECT_TRUE(Failure([&] { LastAcceptedSerial(dir.Path()); }).contains(QString::fromUtf8("última versão aceita")));
}

// The expiry header: written from the days given, read back, other header
// lines skipped; a manifest is refused from its expiry day on (the clock
// fixed), and once a release that expires was accepted, one that never does
// is refused.
TEST(Release, ExpiryWrittenReadAndEnforced)
{
    TScratchDir dir, keys;
    SetClock([] { return EncodeDate(2026, 5, 1) + 0.5; });
    WriteBytes(dir.File("a.dll"), "abc");
    const TManifest made = MakeManifest(dir.Path(), 3, 30);
    EXPECT_EQ(made.Expires, "2026-05-31");
    const QByteArray text = FormatManifest(made);
    EXPECT_TRUE(text.startsWith("zembo-release 1\nserial 3\ndate 2026-05-01\nexpires 2026-05-31\n\n")) << text.toStdString();
    EXPECT_EQ(FormatManifest(ParseManifest(text)), text);
    EXPECT_EQ(DaysUntilExpiry(made), 30);
    EXPECT_EQ(DaysUntilExpiry(MakeManifest(dir.Path(), 3)), std::nullopt);
    QByteArray later = text;
    later.replace("\n\n", "\nespelho ftp://outro.example 21\nassinado-por Belmora\n\n");
    const TManifest skipped = ParseManifest(later);
    EXPECT_EQ(skipped.Expires, "2026-05-31");
    EXPECT_EQ(skipped.Files.size(), 1);

    const TKeyPair key = MakeKey(keys, "maker");
    WriteBytes(dir.File(ReleaseManifestName), text);
    const QByteArray signature = Sign(key, dir.File(ReleaseManifestName), false);
    const QList<TPublicKey> trusted = ParsePublicKeys(key.PublicText());
    SetClock([] { return EncodeDate(2026, 5, 30) + 0.99; });
    EXPECT_EQ(VerifyRelease(text, signature, trusted).Manifest.Expires, "2026-05-31");
    SetClock([] { return EncodeDate(2026, 5, 31); });
    const QString expired = Failure([&] { VerifyRelease(text, signature, trusted); });
    EXPECT_TRUE(expired.contains(QString::fromUtf8("Versão 3 recusada: o manifesto assinado expirou em 31/05/2026")) &&
                expired.contains(QString::fromUtf8("servidor pode estar desatualizado")))
        << expired.toStdString();

    AcceptRelease(dir.Path(), text);
    EXPECT_TRUE(Failure([&] { CheckAgainstAccepted(dir.Path(), ManifestText(4)); })
                    .contains(QString::fromUtf8("Versão 4 recusada: o manifesto não tem validade, e a versão 3")));
    EXPECT_NO_THROW(CheckAgainstAccepted(dir.Path(), FormatManifest(MakeManifest(dir.Path(), 4, 1))));
    SetClock({});
}

TEST(Release, DifferingFilesNamed)
{
    TScratchDir dir;
    for (const char* name : {"igual", "mudado", "maior", "sumido"})
        WriteBytes(dir.File(name), "conteudo");
    const TManifest manifest = MakeManifest(dir.Path(), 1);
    WriteBytes(dir.File("mudado"), "conteuDo");
    WriteBytes(dir.File("maior"), "conteudo!");
    QFile::remove(dir.File("sumido"));
    WriteBytes(dir.File("novo"), "");
    WriteBytes(dir.File(ReleaseManifestName), "");

    const auto text = [](const QList<TFileDifference>& differences) {
        QStringList out;
        for (const TFileDifference& d : differences)
            out.append(d.Name + u':' + QString::number(d.Kind));
        return out;
    };
    EXPECT_EQ(text(DifferingFiles(manifest, dir.Path())), (QStringList{"maior:1", "mudado:2", "sumido:0"}));
    EXPECT_EQ(text(DifferingFiles(manifest, dir.Path(), true)), (QStringList{"maior:1", "mudado:2", "sumido:0", "novo:3"}));
}

TEST(ZemboRelease, ManifestSignVerify)
{
    TScratchDir dir, keys;
    const TKeyPair key = MakeKey(keys, "maker"), other = MakeKey(keys, "other");
    const QString folder = dir.File("keldarin");
    WriteBytes(folder + "/Quendarive.rar", "rar");
    WriteBytes(folder + QString::fromUtf8("/Relatório anual.txt"), "texto");
    const QString tool = QStringLiteral(ZEMBO_RELEASE_TOOL);

    const TRun made = RunProgram(tool, {"manifest", folder, "--serial", "9"});
    ASSERT_EQ(made.ExitCode, 0) << made.Out.toStdString();
    EXPECT_EQ(made.Out.toUtf8(), ReadBytes(folder + "/zembo-release.txt"));
    EXPECT_TRUE(made.Out.endsWith(QString::fromUtf8(" 5 Relatório anual.txt\n")));
    const TRun expiring = RunProgram(tool, {"manifest", folder, "--serial", "9", "--expires", "10"});
    EXPECT_EQ(ParseManifest(ReadBytes(folder + "/zembo-release.txt")).Expires,
              QDate::currentDate().addDays(10).toString(Qt::ISODate)) << expiring.Out.toStdString();
    RunProgram(tool, {"manifest", folder, "--serial", "9"});

    EXPECT_EQ(RunProgram(tool, {"verify", folder, key.PublicFile}).ExitCode, 1); // not signed yet
    Sign(key, folder + "/zembo-release.txt", false);
    const TRun ok = RunProgram(tool, {"verify", folder, key.PublicFile});
    EXPECT_EQ(ok.ExitCode, 0) << ok.Out.toStdString();
    EXPECT_EQ(ok.Out, QString::fromUtf8("assinatura válida: versão 9, chave %1, 2 arquivos\n").arg(key.KeyId()));
    EXPECT_EQ(RunProgram(tool, {"verify", folder, other.PublicFile}).ExitCode, 1);

    WriteBytes(folder + "/Quendarive.rar", "RAR");
    WriteBytes(folder + "/extra", "");
    const TRun changed = RunProgram(tool, {"verify", folder, key.PublicFile});
    EXPECT_EQ(changed.ExitCode, 1);
    EXPECT_TRUE(changed.Out.endsWith("sha256\tQuendarive.rar\nfora do manifesto\textra\n")) << changed.Out.toStdString();

    for (const QStringList& bad : {QStringList{}, QStringList{"manifest", folder}, QStringList{"verify", folder},
                                   QStringList{"manifest", folder, "--serial", "0"}, QStringList{"sign", folder},
                                   QStringList{"manifest", folder, "--serial", "9", "--expires", "0"},
                                   QStringList{"manifest", folder, "--serial", "9", "--expires", "x"},
                                   QStringList{"verify", folder, key.PublicFile, "--expires", "3"}})
        EXPECT_EQ(RunProgram(tool, bad).ExitCode, 2) << bad.join(u' ').toStdString();
}

// A dangling link planted as the record of the accepted release: the
// record replaces the link, and nothing is created where it pointed.
TEST(Release, AcceptedRecordThatIsALinkIsReplacedNotFollowed)
{
    TScratchDir dir, outside;
    ASSERT_TRUE(QFile::link(outside.File("criado"), dir.File(AcceptedReleaseName)));
    AcceptRelease(dir.Path(), ManifestText(5));
    EXPECT_FALSE(QFileInfo(dir.File(AcceptedReleaseName)).isSymLink());
    EXPECT_EQ(LastAcceptedSerial(dir.Path()), 5);
    EXPECT_FALSE(QFileInfo::exists(outside.File("criado")));
}

namespace {

QByteArray Hash(char c)
{
    return QByteArray(32, c);
}

QByteArray IndexText(const QByteArray& entries)
{
    return "zembo-deltas 1\nserial 9\n\n" + entries;
}

} // namespace

// The delta index round-trips (names with blanks and accents), is signed
// and checked like the manifest, and refuses every malformed line.
TEST(Release, DeltaIndexReadWrittenAndSigned)
{
    const TDeltaIndex index{9,
                            {{Hash('a'), Hash('b'), 1000, 120, QString::fromUtf8("Relatório anual.dll")},
                             {Hash('c'), Hash('d'), 5, 4, "Quendarive.exe"}}};
    const QByteArray text = FormatDeltaIndex(index);
    EXPECT_TRUE(text.startsWith("zembo-deltas 1\nserial 9\n\n" + Hash('a').toHex() + ' ' + Hash('b').toHex() +
                                " 1000 120 Relatório anual.dll\n"));
    const TDeltaIndex read = ParseDeltaIndex(text);
    EXPECT_EQ(FormatDeltaIndex(read), text);
    EXPECT_EQ(read.Entries[0].PatchName(), QString::fromUtf8("Relatório anual.dll.6161616161616161.zst"));
    EXPECT_EQ(read.Find("Quendarive.exe", Hash('c'), Hash('d')), &read.Entries[1]);
    EXPECT_EQ(read.Find("Quendarive.exe", Hash('c'), Hash('e')), nullptr);
    EXPECT_EQ(read.NewHashOf("Quendarive.exe"), Hash('d'));
    EXPECT_EQ(ParseDeltaIndex(IndexText("")).Entries.size(), 0);

    const QByteArray a = Hash('a').toHex(), b = Hash('b').toHex();
    const struct {
        QByteArray Text;
        const char* Why;
    } bad[] = {
        {"zembo-deltas 2\nserial 9\n\n", "(linha 1)"},
        {"zembo-deltas 1\nserial 0\n\n", "(linha 2)"},
        {"zembo-deltas 1\nserial -1\n\n", "(linha 2)"},
        {"zembo-deltas 1\nserial 9\nexpires 2026-01-01\n\n", "(linha 3)"},
        {"zembo-deltas 1\nserial 9\n", "(linha 3)"},
        {"zembo-deltas 1\nserial 9\n\n" + a + ' ' + b + " 10 5 x", "sem fim de linha"},
        {IndexText(a + ' ' + b + " 10 5\n"), "esperado"},
        {IndexText(a.left(63) + ' ' + b + " 10 5 x\n"), "64 dígitos"},
        {IndexText(a + ' ' + a + " 10 5 x\n"), "não muda"},
        {IndexText(a + ' ' + b + " 10 0 x\n"), "tamanho"},
        {IndexText(a + ' ' + b + " +10 5 x\n"), "tamanho"},
        {IndexText(a + ' ' + b + " 10 5 ../x\n"), "separador"},
        {IndexText(a + ' ' + b + " 10 5 ..\n"), "não permitido"},
        {IndexText(a + ' ' + b + " 10 5 a\x01\n"), "controle"},
        {IndexText(a + ' ' + b + " 10 5 x\n" + a + ' ' + Hash('c').toHex() + " 10 5 x\n"), "(linha 5): delta de \"x\" listado duas vezes"},
        {IndexText("\xff\n"), "UTF-8"},
    };
    for (const auto& row : bad)
        EXPECT_TRUE(Failure([&] { ParseDeltaIndex(row.Text); }).contains(QString::fromUtf8(row.Why)))
            << row.Why << ": " << Failure([&] { ParseDeltaIndex(row.Text); }).toStdString();

    TScratchDir dir;
    const TKeyPair mine = MakeKey(dir, "mine"), other = MakeKey(dir, "other");
    WriteBytes(dir.File("i.txt"), text);
    EXPECT_EQ(VerifyDeltaIndex(text, Sign(mine, dir.File("i.txt"), false), ParsePublicKeys(mine.PublicText())).Serial, 9);
    const QByteArray foreign = Sign(other, dir.File("i.txt"), false);
    EXPECT_TRUE(Failure([&] { VerifyDeltaIndex(text, foreign, ParsePublicKeys(mine.PublicText())); })
                    .startsWith(QString::fromUtf8("Índice de deltas assinado por uma chave desconhecida")));
    const QByteArray signature = Sign(mine, dir.File("i.txt"), true);
    EXPECT_TRUE(Failure([&] { VerifyDeltaIndex(text + "\n", signature, ParsePublicKeys(mine.PublicText())); })
                    .contains(QString::fromUtf8("o índice não confere com a assinatura")));
    EXPECT_TRUE(Failure([&] { VerifyDeltaIndex(text, "", ParsePublicKeys(mine.PublicText())); })
                    .contains("zembo-deltas.txt.minisig"));
}

// The maker's patches: one per changed file from each older release (and
// per older main executable), under 60 % of the file or not written, the
// index signed and then checked by verify, also by applying each patch.
TEST(ZemboRelease, DeltasMadeFromEarlierReleasesAndVerified)
{
    TScratchDir dir, keys;
    const TKeyPair key = MakeKey(keys, "maker");
    QByteArray base(300000, Qt::Uninitialized);
    for (qsizetype i = 0; i < base.size(); ++i)
        base[i] = char((i * 2654435761u) >> 13);
    const auto edited = [&](char c) {
        QByteArray bytes = base;
        bytes.replace(1000, 50, QByteArray(50, c));
        return bytes;
    };
    const QString v1 = dir.File("v1"), v2 = dir.File("v2"), v3 = dir.File("keldarin");
    WriteBytes(v1 + "/Keldarin.dll", edited('1'));
    WriteBytes(v2 + "/Keldarin.dll", edited('2'));
    WriteBytes(v2 + "/Igual.dll", "igual");
    WriteBytes(v1 + "/Novo.txt", QByteArray(4000, 'x'));
    WriteBytes(v3 + "/Keldarin.dll", edited('3'));
    WriteBytes(v3 + "/Igual.dll", "igual");
    QByteArray unrelated(4000, Qt::Uninitialized);
    for (qsizetype i = 0; i < unrelated.size(); ++i)
        unrelated[i] = char((i * 40503u) >> 7 ^ i);
    WriteBytes(v3 + "/Novo.txt", unrelated); // no patch can be worth it
    WriteBytes(v3 + "/Quendarive.rar", "rar");
    WriteBytes(dir.File("old.exe"), edited('a'));
    WriteBytes(dir.File("new.exe"), edited('b'));
    const QString tool = QStringLiteral(ZEMBO_RELEASE_TOOL);

    const TRun made = RunProgram(tool, {"manifest", v3, "--serial", "3", "--delta-from", v1, "--delta-from", v2,
                                        "--executable", dir.File("new.exe"), "--delta-from-executable", dir.File("old.exe")});
    ASSERT_EQ(made.ExitCode, 0) << made.Out.toStdString();
    EXPECT_TRUE(made.Out.contains("sem delta (não compensa) Novo.txt")) << made.Out.toStdString();
    const TDeltaIndex index = ParseDeltaIndex(ReadBytes(v3 + "/deltas/zembo-deltas.txt"));
    EXPECT_EQ(index.Serial, 3);
    ASSERT_EQ(index.Entries.size(), 3); // Keldarin.dll from v1 and from v2, the executable
    for (const TDeltaEntry& entry : index.Entries) {
        EXPECT_LT(entry.PatchSize, entry.NewSize * 6 / 10);
        EXPECT_EQ(QFileInfo(v3 + "/deltas/" + entry.PatchName()).size(), entry.PatchSize);
    }
    EXPECT_EQ(index.Entries[2].Name, "Quendarive.exe");
    EXPECT_EQ(QDir(v3 + "/deltas").entryList(QDir::Files).size(), 4); // nothing of Novo.txt left
    EXPECT_FALSE(ReadBytes(v3 + "/zembo-release.txt").contains("deltas"));

    Sign(key, v3 + "/zembo-release.txt", false);
    const QStringList olds{"--delta-from", v1, "--delta-from", v2, "--delta-from-executable", dir.File("old.exe")};
    EXPECT_EQ(RunProgram(tool, QStringList{"verify", v3, key.PublicFile} + olds).ExitCode, 1); // the index unsigned
    Sign(key, v3 + "/deltas/zembo-deltas.txt", false);
    const TRun ok = RunProgram(tool, QStringList{"verify", v3, key.PublicFile} + olds);
    EXPECT_EQ(ok.ExitCode, 0) << ok.Out.toStdString();

    // A patch that rebuilds other bytes, of the size the index lists.
    const QString patch = v3 + "/deltas/" + index.Entries[0].PatchName();
    QByteArray bytes = ReadBytes(patch);
    bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 4);
    WriteBytes(patch, bytes);
    const TRun damaged = RunProgram(tool, QStringList{"verify", v3, key.PublicFile} + olds);
    EXPECT_EQ(damaged.ExitCode, 1);
    EXPECT_EQ(damaged.Out.section(u'\n', 1), "delta sha256\t" + index.Entries[0].PatchName() + "\n") << damaged.Out.toStdString();
    QFile::remove(patch);
    EXPECT_TRUE(RunProgram(tool, {"verify", v3, key.PublicFile}).Out.contains("delta ausente\t" + index.Entries[0].PatchName()));

    EXPECT_EQ(RunProgram(tool, {"manifest", v3, "--serial", "3", "--executable", dir.File("new.exe")}).ExitCode, 2);
}
