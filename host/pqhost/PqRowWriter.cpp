#include "PqRowWriter.h"

#include <algorithm>
#include <cstdio>

void PqRowWriter::queue(const PqRow& row, PqCounts& counts) {
    if (m_rows.size() >= MAX_PENDING) {
        if (!m_bToldDrop)
            fprintf(stderr, "qmhost: power quality: %zu rows waiting; the oldest are dropped\n", MAX_PENDING);
        m_bToldDrop = true;
        m_rows.pop_front();
        counts.ullRowsDropped++;
    }
    m_rows.push_back(row);
    counts.ullRowsPending = m_rows.size();
}

bool PqRowWriter::writePending(PqCounts& counts) {
    if (m_rows.empty() || m_clock() < m_llRetryAtMicros) return false;
    const size_t count = std::min(m_rows.size(), ROWS_PER_WRITE);
    const std::vector<PqRow> batch(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(count));
    std::string error;
    if (m_store(batch, error)) {
        m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(count));
        counts.ullRowsWritten += count;
        counts.ullRowsPending = m_rows.size();
        if (m_llBackoffMicros != 0) fprintf(stderr, "qmhost: power quality: writing again\n");
        m_llBackoffMicros = m_llRetryAtMicros = 0;
        m_bToldDrop = false;
        counts.lastError.clear();
        return true;
    }
    counts.ullRetriedWrites++;
    if (error != counts.lastError)
        fprintf(stderr, "qmhost: power quality: cannot store %zu rows: %s; retrying\n", count, error.c_str());
    counts.lastError = error;
    m_llBackoffMicros =
        m_llBackoffMicros == 0 ? FIRST_RETRY_MICROS : std::min(2 * m_llBackoffMicros, LAST_RETRY_MICROS);
    m_llRetryAtMicros = m_clock() + m_llBackoffMicros;
    return true;
}

void PqRowWriter::flush(PqCounts& counts) {
    // Three refusals in a row and the rest is given up.
    for (int nRefused = 0; nRefused < 3 && !m_rows.empty();) {
        m_llRetryAtMicros = 0;
        const uint64_t ullWritten = counts.ullRowsWritten;
        writePending(counts);
        nRefused = counts.ullRowsWritten == ullWritten ? nRefused + 1 : 0;
    }
    if (m_rows.empty()) return;
    fprintf(stderr, "qmhost: power quality: stopped with %zu rows the database refused; dropped\n",
            m_rows.size());
    counts.ullRowsDropped += m_rows.size();
    m_rows.clear();
    counts.ullRowsPending = 0;
}
