#include "output/TableExport.h"

namespace CSVXML {

TableExportResult ExportTable(const db::ConnectionSettings& settings, const db::TableEntry& table,
                              const ConversionOptions& options, OutputStream& out,
                              db::Progress& progress, std::chrono::seconds loginTimeout,
                              std::chrono::seconds queryTimeout) {
    XmlExportSink sink(options, out);
    TableExportResult result;
    result.extracted =
        ExtractTableText(settings, table, sink, progress, loginTimeout, queryTimeout);
    sink.close();
    result.rows = sink.rows();
    result.bytes = out.written();
    result.refused = sink.refusedCharacters();
    return result;
}

QString refusedCharactersMessage(const RefusedCharacters& refused) {
    return QStringLiteral("%1 characters that XML 1.0 cannot hold were written as character "
                          "references, which strict XML readers refuse; the first is at row %2, "
                          "column '%3'")
        .arg(refused.count)
        .arg(refused.firstRow)
        .arg(QString::fromStdString(refused.firstColumn));
}

} // namespace CSVXML
