// The command line as every tool reads it: options through QCommandLineParser,
// -h/--help prints the help on standard output (exit 0), and a usage error
// prints "TOOL: reason" and the usage lines on standard error (exit 2).
#pragma once

#include "platform/errors.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <optional>

// Text out in UTF-8, as every tool writes it.
inline void WriteText(FILE* to, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

// A usage error found while reading the options; TCommandLine::Usage tells it.
class EUsage : public Exception {
public:
    using Exception::Exception;
};

class TCommandLine {
public:
    static constexpr int UsageExitCode = 2;

    // synopsis: the forms of the command line after the tool's name, one per
    // entry; summary: one line on what the tool does.
    TCommandLine(QString tool, QStringList synopsis, QString summary)
        : FTool(std::move(tool)), FSynopsis(std::move(synopsis)), FSummary(std::move(summary))
    {
        AddOptions({FHelp});
    }

    void AddOptions(const QList<QCommandLineOption>& options)
    {
        for (const QCommandLineOption& option : options)
            FParser.addOption(option);
        FOptions += options;
    }

    // Reads the arguments, the program's name first. Returns the exit code
    // when the program ends here (after the help, or a usage error), else nothing.
    std::optional<int> Parse(const QStringList& arguments)
    {
        if (!FParser.parse(arguments))
            return Usage(ParseError());
        if (FParser.isSet(FHelp)) {
            WriteText(stdout, Help());
            return 0;
        }
        return std::nullopt;
    }

    bool IsSet(const QString& name) const { return FParser.isSet(name); }
    QString Value(const QString& name) const { return FParser.value(name); }
    QStringList Values(const QString& name) const { return FParser.values(name); }
    QStringList Operands() const { return FParser.positionalArguments(); }

    // Tells a usage error on standard error; returns the exit code for it.
    int Usage(const QString& why) const
    {
        WriteText(stderr, FTool + QStringLiteral(": ") + why + u'\n' + Synopsis());
        return UsageExitCode;
    }

    // An error of the tool's work: "TOOL: message" on standard error.
    void Fail(const QString& message) const { WriteText(stderr, FTool + QStringLiteral(": ") + message + u'\n'); }

private:
    // An option's name as written: -h, --help.
    static QString OptionForm(const QString& name)
    {
        return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    }

    QString Synopsis() const
    {
        QString text;
        for (qsizetype i = 0; i < FSynopsis.size(); ++i)
            text += (i == 0 ? QStringLiteral("uso: ") : QStringLiteral("     ")) + FTool + u' ' + FSynopsis[i] + u'\n';
        return text;
    }

    QString Help() const
    {
        QStringList names;
        for (const QCommandLineOption& option : FOptions) {
            QStringList forms;
            for (const QString& name : option.names())
                forms << OptionForm(name);
            names << forms.join(QStringLiteral(", "))
                         + (option.valueName().isEmpty() ? QString() : u' ' + option.valueName());
        }
        const qsizetype width = std::ranges::max(names, {}, &QString::size).size();
        QString text = Synopsis() + u'\n' + FSummary + QStringLiteral("\n\nopções:\n");
        for (qsizetype i = 0; i < names.size(); ++i)
            text += QStringLiteral("  ") + names[i].leftJustified(width + 2) + FOptions[i].description() + u'\n';
        return text;
    }

    // Qt words its parse errors in English; the operator reads Portuguese.
    QString ParseError() const
    {
        const QStringList unknown = FParser.unknownOptionNames();
        if (!unknown.isEmpty())
            return QStringLiteral("opção desconhecida: ") + OptionForm(unknown.first());
        static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
        static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'\\.$"));
        const QString error = FParser.errorText();
        if (const QRegularExpressionMatch m = missing.match(error); m.hasMatch())
            return m.captured(1) + QStringLiteral(" precisa de um valor");
        if (const QRegularExpressionMatch m = unexpected.match(error); m.hasMatch())
            return m.captured(1) + QStringLiteral(" não leva valor");
        return error;
    }

    QString FTool;
    QStringList FSynopsis;
    QString FSummary;
    QCommandLineParser FParser;
    QList<QCommandLineOption> FOptions;
    const QCommandLineOption FHelp{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("mostra esta ajuda")};
};
