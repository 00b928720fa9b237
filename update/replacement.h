// The replacement of the main executable from its archive, as one
// transaction: a whole backup first, the archiver's work unpacked aside and
// judged, the new program moved into place by rename, and on any failure
// the previous program put back.
#pragma once

#include <QString>
#include <functional>

// The pause of the replacement's wait loop; replaceable so tests need not sleep.
using TPauseFunction = std::function<void(int milliseconds)>;
void SetPauseFunction(TPauseFunction pause); // empty restores the real pause

struct TSubstituicao {
    bool Failed = false;    // not replaced: the previous program is in place
    bool Cancelled = false; // stopped on request: likewise
    QString Message;        // shown to the operator when it failed
    QString CommandLine;    // the archiver's, when started
    int Pauses = 0;
};
// The operator's message of a replacement that did not happen, and why.
QString MensagemSubstituicao(const QString& mainExecutable, const QString& cause);
// Runs during every wait of the replacement; false asks it to stop.
using TKeepWaiting = std::function<bool()>;
// The archiver's command line: extract *.exe of the archive into the
// destination, overwriting; the archiver is the file the check looks for.
QString LinhaDeComando(const QString& progr, const QString& destination);
// The replacement as one transaction: backs up the main executable, deletes
// it and waits for it to go, has the archiver unpack the archive into the
// staging folder (waited for, at most ArchiverTimeoutMs), and moves the
// executables into place by rename, which ends the pending replacement.
// Any failure, or a stop asked through
// keepWaiting, puts the previous program back (from the backup when it was
// already deleted), removes the staging folder and deletes the archive, so
// the next run fetches it again. With builtExecutable (the new program
// already rebuilt and checked, in the installation folder) that file is
// moved into the staging folder instead of the archiver's work, and the
// rest of the transaction is the same.
TSubstituicao SubstituiExecutavel(const QString& mainExecutable, const QString& progr,
                                  const TKeepWaiting& keepWaiting = {}, const QString& builtExecutable = {});
// Removes a staging folder that an interrupted run left behind; a link in
// its place goes as a link. False when something of it is left.
bool LimpaExtracao();
