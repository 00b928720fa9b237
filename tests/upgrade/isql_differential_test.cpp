#include "tests/db/fbtest.h"
#include "tests/support/testenv.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// A script as the maker writes them: domains, tables, a generator, a stored
// procedure and a trigger with their own terminator, data.
const char* const Script = R"(CREATE DOMAIN D_NOME AS VARCHAR(40) NOT NULL;
CREATE TABLE CLIENTE (ID INTEGER NOT NULL PRIMARY KEY, NOME D_NOME, SALDO NUMERIC(9,2) DEFAULT 0);
CREATE TABLE LOG_CLIENTE (ID INTEGER, QUANDO VARCHAR(20));
CREATE GENERATOR GEN_CLIENTE;
ALTER TABLE CLIENTE ADD OBS VARCHAR(10);
/* procedures and triggers */
SET TERM ^ ;
CREATE PROCEDURE NOVO_CLIENTE (NOME VARCHAR(40)) RETURNS (ID INTEGER) AS
BEGIN
  ID = GEN_ID(GEN_CLIENTE, 1);
  INSERT INTO CLIENTE (ID, NOME) VALUES (:ID, :NOME);
  SUSPEND;
END^
CREATE TRIGGER TR_CLIENTE FOR CLIENTE AFTER INSERT AS
BEGIN
  INSERT INTO LOG_CLIENTE (ID, QUANDO) VALUES (NEW.ID, 'insert; feito');
END^
SET TERM ; ^
/* data */
INSERT INTO CLIENTE (ID, NOME, SALDO) VALUES (100, 'Ana ''da'' Silva', 12.5);
EXECUTE PROCEDURE NOVO_CLIENTE 'Bruno';
UPDATE CLIENTE SET OBS = 'x;y' WHERE ID = 1;
COMMIT;
)";

QString RunTool(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(60000);
    if (exitCode)
        *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAll());
}

// Metadata and data of a database as isql-fb shows them, without the lines
// that name the file itself.
QString Contents(const QString& database, const QString& scratch)
{
    QString meta = IsqlFb(database, {}, {"-x"});
    meta.remove(QRegularExpression("^.*(CREATE DATABASE|/\\*.*\\*/|SET SQL DIALECT|COMMIT WORK).*$\\n?",
                                   QRegularExpression::MultilineOption));
    const QString query = scratch + "/query.sql";
    WriteBytes(query, "SELECT * FROM CLIENTE ORDER BY ID;\nSELECT * FROM LOG_CLIENTE ORDER BY ID;\n"
                      "SELECT GEN_ID(GEN_CLIENTE, 0) FROM RDB$DATABASE;\n");
    return meta + IsqlFb(database, {}, {"-i", query});
}

} // namespace

TEST(IsqlDifferential, SameSchemaAndDataAsFirebirdsOwnTool)
{
    TScratchDir dir;
    WriteBytes(dir.File("script.sql"), Script);
    TFbTestDatabase ours(QStringLiteral("diff-ours"), fbEmbedded);
    TFbTestDatabase theirs(QStringLiteral("diff-isql"), fbEmbedded);
    int code = -1;
    const QString out = RunTool(QStringLiteral(ZEMBO_ISQL), {"--user", FbUser(), "--password", FbPassword(),
                                                         ours.ConnectionName(), dir.File("script.sql")}, &code);
    ASSERT_EQ(code, 0) << out.toStdString();
    IsqlFb(theirs.ConnectionName(), {}, {"-i", dir.File("script.sql")}, &code);
    ASSERT_EQ(code, 0);

    const QString a = Contents(ours.ConnectionName(), dir.Path());
    const QString b = Contents(theirs.ConnectionName(), dir.Path());
    EXPECT_TRUE(a.contains("NOVO_CLIENTE")) << a.toStdString();
    EXPECT_TRUE(a.contains("insert; feito"));
    EXPECT_EQ(a.toStdString(), b.toStdString());
}
