#include "replay/replay_queue.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "relay/common/format_text.h"
#include "relay/output/text_file.h"
#include "relay/platform/env.h"
#include "relay/report/report.h"
#include "relay/settings/relay_ini.h"
#include "replay/exit_status.h"
#include "replay/joined_statements.h"
#include "replay/queue_snapshot.h"
#include "replay/reject_intent.h"
#include "replay/replayed_mark.h"

namespace dbrelay::replay {

namespace {

unsigned long long U(uint64_t n) { return static_cast<unsigned long long>(n); }

void Print(const std::string& text) { CurrentEnv()->WriteConsole(text); }

int ReportUncertain(const std::string& path, const std::string& problem) {
  ReportError(FormatText("Unable to replay %s: %s.\nNothing of it was run; see DbRelayReplay(1).\n",
                         path.c_str(), problem.c_str()),
              Mailing::kAllowed);
  return kExitUncertain;
}

int ReportInputOutput(const std::string& path, const char* what, const Status& status) {
  ReportError(FormatText("Unable to replay %s: cannot %s (%s)\n\nError returned = %d\n",
                         path.c_str(), what, status.ToString().c_str(), status.code()),
              Mailing::kAllowed);
  return kExitInputOutput;
}

// Where the batch that begins at record first ends: at most kRecordsPerTransaction records and,
// unless its first record alone is larger, at most kBatchBytes, so that a file of large records
// is replayed in bounded memory.
size_t BatchEnd(const std::vector<RecordSpan>& records, size_t first) {
  size_t end = first;
  uint64_t bytes = 0;
  while (end < records.size() && end - first < kRecordsPerTransaction &&
         (end == first || bytes + records[end].length <= kBatchBytes)) {
    bytes += records[end].length;
    ++end;
  }
  return end;
}

}  // namespace

struct QueueReplay::Queue {
  QueueSnapshot snapshot;
  size_t first_pending = 0;   // index into snapshot.records()
  uint64_t next_offset = 0;   // where first_pending starts
  // The statements of records [batch_first, batch_first + statements.size()): read a batch at a
  // time, so a file of any length is replayed in little memory.
  size_t batch_first = 0;
  std::vector<std::string> statements;
  uint64_t replayed = 0;
  // Listed without the ledger, of a queue some of whose records may already have run.
  bool progress_unknown = false;
};

QueueReplay::QueueReplay(CADODatabase* database, std::string host)
    : database_(database), ledger_(database), host_(std::move(host)) {}

int QueueReplay::ReportDatabaseFailure(const Queue& queue, const std::string& what,
                                       const std::string& error_text) {
  int last_error = errno;
  ReportError(FormatText("Unable to replay %s: %s\n%s\nGetLastError = %d\n",
                         queue.snapshot.path().c_str(), what.c_str(), error_text.c_str(),
                         last_error),
              Mailing::kAllowed);
  return kExitStatementFailed;
}

// Reads the file and learns from the ledger where its pending records begin. may_change lets it
// create the ledger's table, register the queue and write the mark; without it a queue the ledger
// does not know is taken as not begun.
int QueueReplay::Prepare(const std::string& path, bool may_change, Queue* queue) {
  Status s = queue->snapshot.Take(path);
  if (!s.ok()) return ReportInputOutput(path, "read it", s);
  const QueueSnapshot& snap = queue->snapshot;
  if (!snap.problem().empty()) return ReportUncertain(path, snap.problem());
  queue->first_pending = 0;
  queue->next_offset = 0;
  if (snap.queue_id().empty()) return kExitNothingPending;  // an empty file without boundaries

  std::optional<uint64_t> progress;
  if (database_ == nullptr) {
    // The primary is down (a listing only): without the ledger every record is listed, and a queue
    // an earlier replay registered may have run some of them.
    bool marked = false;
    if (s = ReadReplayedMark(path, snap.queue_id(), &marked); !s.ok()) {
      return ReportInputOutput(path, "read its mark", s);
    }
    queue->progress_unknown = marked;
    progress = 0;
  } else if (!ledger_.ReadProgress(snap.queue_id(), &progress, may_change)) {
    return ReportDatabaseFailure(*queue, "the ledger cannot be read", ledger_.error_text());
  }
  if (!progress) {
    bool marked = false;
    if (s = ReadReplayedMark(path, snap.queue_id(), &marked); !s.ok()) {
      return ReportInputOutput(path, "read its mark", s);
    }
    if (marked) {
      return ReportUncertain(
          path, FormatText("the ledger %s of the primary has no row for its queue %s, which an "
                           "earlier replay registered there (the table was dropped, or the "
                           "primary is another database), so which of its statements ran is not "
                           "known",
                           kLedgerTable, snap.queue_id().c_str()));
    }
  }
  const bool unregistered = !progress;
  if (unregistered) progress = 0;
  // The ledger may only point at the end of a record of this file.
  const std::vector<RecordSpan>& records = snap.records();
  auto at = std::lower_bound(records.begin(), records.end(), *progress,
                             [](const RecordSpan& r, uint64_t offset) { return r.start < offset; });
  const bool at_record = at != records.end() && at->start == *progress;
  if (!at_record && *progress != snap.whole_end()) {
    return ReportUncertain(
        path, FormatText("the ledger says its first %llu bytes ran, which is not where one of "
                         "its records ends",
                         U(*progress)));
  }
  queue->first_pending = static_cast<size_t>(at - records.begin());
  queue->next_offset = *progress;
  // Every pending record is checked before the first one runs: nothing of a file that was changed
  // in place is run.
  for (size_t first = queue->first_pending; first < records.size();) {
    const size_t end = BatchEnd(records, first);
    if (int status = LoadBatch(queue, first, end); status != kExitNothingPending) return status;
    first = end;
  }
  if (unregistered && may_change && !records.empty()) {
    if (!ledger_.Register(snap.queue_id(), host_, path)) {
      return ReportDatabaseFailure(*queue, "its queue cannot be added to the ledger",
                                   ledger_.error_text());
    }
    // Durable before any statement runs: from now on a lost ledger is noticed.
    if (s = WriteReplayedMark(path, snap.queue_id()); !s.ok()) {
      return ReportInputOutput(path, "write its mark", s);
    }
  }
  return kExitNothingPending;
}

int QueueReplay::LoadBatch(Queue* queue, size_t first, size_t end) {
  std::string problem;
  queue->batch_first = first;
  if (Status s = queue->snapshot.ReadStatements(first, end, &queue->statements, &problem);
      !s.ok()) {
    return ReportInputOutput(queue->snapshot.path(), "read its records", s);
  }
  if (!problem.empty()) return ReportUncertain(queue->snapshot.path(), problem);
  return kExitNothingPending;
}

QueueReplay::BatchResult QueueReplay::RunBatch(Queue* queue, size_t first, size_t end, bool join,
                                               size_t* failed_at) {
  const std::vector<RecordSpan>& records = queue->snapshot.records();
  // Read once a batch rather than twice a statement: the settings file is parsed at every read.
  const int32_t minimum = ReadIniInt(settings::kRaiseErrorIfAffectedLinesLessThen);
  const bool detailed = ReadIniInt(settings::kDetailedLog) != 0;
  auto statement = [&](size_t i) -> const std::string& {
    return queue->statements[i - queue->batch_first];
  };
  if (database_->BeginTransaction() == 0) {
    *failed_at = first;
    return BatchResult::kDatabaseFailed;
  }
  std::string joined;
  std::vector<int32_t> counts;
  for (size_t i = first; i < end;) {
    size_t group_end = i;
    if (join) {
      joined.clear();
      while (group_end < end && joined.size() < kJoinedBytes &&
             CanRunJoined(statement(group_end))) {
        AppendJoined(statement(group_end), &joined);
        ++group_end;
      }
    }
    if (group_end - i >= 2) {
      // Anything short of one count per statement, each as high as a lone run must reach, and
      // the batch is undone: run alone, the statements then show what happened.
      bool ran = database_->ExecuteBatch(joined, &counts) != 0 && counts.size() == group_end - i;
      for (size_t k = 0; ran && k < counts.size(); ++k) ran = counts[k] >= minimum;
      if (!ran) {
        (void)database_->RollbackTransaction();
        *failed_at = first;
        return BatchResult::kBatchRefused;
      }
      if (detailed) {
        for (size_t k = 0; k < counts.size(); ++k) {
          LogDetail("\nRunning Query: " + statement(i + k) + "\n");
          LogDetail(FormatText("Number of records Affected = %d\n", counts[k]));
        }
      }
      i = group_end;
      continue;
    }
    if (detailed) LogDetail("\nRunning Query: " + statement(i) + "\n");
    const bool ran = database_->Execute(statement(i)) != 0;
    const int32_t count = database_->GetRecordsAffected();
    if (ran && detailed) LogDetail(FormatText("Number of records Affected = %d\n", count));
    if (!ran || count < minimum) {
      (void)database_->RollbackTransaction();
      *failed_at = i;
      return ran ? BatchResult::kFewerRecords : BatchResult::kStatementFailed;
    }
    ++i;
  }
  if (!ledger_.Advance(queue->snapshot.queue_id(), records[first].start, records[end - 1].end(),
                       end)) {
    (void)database_->RollbackTransaction();
    *failed_at = first;
    return BatchResult::kDatabaseFailed;
  }
  if (database_->CommitTransaction() == 0) {
    // Whether it committed is not known here; the ledger tells the next run.
    *failed_at = first;
    return BatchResult::kDatabaseFailed;
  }
  return BatchResult::kCommitted;
}

QueueReplay::BatchResult QueueReplay::RunBatchJoinedOrAlone(Queue* queue, size_t first,
                                                            size_t end, size_t* failed_at) {
  BatchResult result = RunBatch(queue, first, end, join_batches_, failed_at);
  if (result != BatchResult::kBatchRefused) return result;
  result = RunBatch(queue, first, end, false, failed_at);
  // Refused joined yet run alone: the driver takes no batches (SQLite's takes one statement a
  // call), so the rest of the run does not try again.
  if (result == BatchResult::kCommitted) join_batches_ = false;
  return result;
}

int QueueReplay::RunPending(Queue* queue, ReplayTotals* totals) {
  const std::vector<RecordSpan>& records = queue->snapshot.records();
  const std::string& path = queue->snapshot.path();
  size_t next = queue->first_pending;
  while (next < records.size()) {
    size_t end = BatchEnd(records, next);
    if (int status = LoadBatch(queue, next, end); status != kExitNothingPending) {
      totals->replayed += queue->replayed;
      totals->pending += records.size() - next;
      return status;
    }
    // A record that cannot be joined may be anything, a COMMIT or a statement that commits by
    // itself among them: it runs in a transaction of its own, so that it never commits other
    // records without their ledger update.
    if (!CanRunJoined(queue->statements.front())) {
      end = next + 1;
    } else {
      for (size_t i = next + 1; i < end; ++i) {
        if (!CanRunJoined(queue->statements[i - next])) {
          end = i;
          break;
        }
      }
    }
    size_t failed_at = next;
    BatchResult result = RunBatchJoinedOrAlone(queue, next, end, &failed_at);
    if (result == BatchResult::kCommitted) {
      queue->replayed += end - next;
      next = end;
      continue;
    }
    const bool statement_failed =
        result == BatchResult::kStatementFailed || result == BatchResult::kFewerRecords;
    // The failing statement and its error text are known; what ran before it in the batch was
    // rolled back with it and runs again as a batch of its own, so only the failing one is left.
    std::string error_text = database_->GetLastErrorText();
    if (statement_failed && failed_at > next) {
      size_t prefix_failed = next;
      BatchResult prefix = RunBatchJoinedOrAlone(queue, next, failed_at, &prefix_failed);
      if (prefix == BatchResult::kCommitted) {
        queue->replayed += failed_at - next;
        next = failed_at;
      } else {
        result = prefix;
        failed_at = prefix_failed;
        error_text = database_->GetLastErrorText();
      }
    }
    totals->replayed += queue->replayed;
    totals->pending += records.size() - failed_at;
    const std::string& statement = queue->statements[failed_at - queue->batch_first];
    const int last_error = errno;
    const std::string where =
        FormatText("\nThe replay of %s stopped at its record %llu (byte %llu); it and every "
                   "later record stay pending.\n",
                   path.c_str(), U(failed_at + 1), U(records[failed_at].start));
    if (result == BatchResult::kFewerRecords) {
      // DbRelay's own wording, which callers' scripts match.
      ReportError(FormatText("Less then expected lines are affected in query:%s\n\n%s\n"
                             "GetLastError = %d\n",
                             statement.c_str(), error_text.c_str(), last_error) +
                      where,
                  Mailing::kAllowed);
    } else if (result == BatchResult::kStatementFailed) {
      ReportError(FormatText("Unable to replay query:%s\n\n%s\nGetLastError = %d\n",
                             statement.c_str(), error_text.c_str(), last_error) +
                      where,
                  Mailing::kAllowed);
    } else {
      const std::string& text = ledger_.error_text().empty() ? error_text : ledger_.error_text();
      ReportError(FormatText("Unable to replay %s: the transaction of its records from %llu on "
                             "could not be completed:\n%s\nGetLastError = %d\n",
                             path.c_str(), U(failed_at + 1), text.c_str(), last_error) +
                      where,
                  Mailing::kAllowed);
    }
    Print(FormatText("%s: %llu replayed, %llu pending\n", path.c_str(), U(queue->replayed),
                     U(records.size() - failed_at)));
    return kExitStatementFailed;
  }
  return kExitNothingPending;
}

int QueueReplay::StopAtUnfinishedRejection(const Queue& queue, ReplayTotals* totals) {
  const std::vector<RecordSpan>& records = queue.snapshot.records();
  const std::string& path = queue.snapshot.path();
  if (queue.first_pending >= records.size()) return kExitNothingPending;
  RejectIntent intent;
  bool found = false;
  if (Status s = ReadRejectIntent(path, &intent, &found); !s.ok()) {
    return ReportInputOutput(RejectIntentPathOf(path), "read it", s);
  }
  const RecordSpan& first = records[queue.first_pending];
  if (!found || intent.queue_id != queue.snapshot.queue_id() ||
      intent.record_start != first.start) {
    return kExitNothingPending;
  }
  const uint64_t pending = records.size() - queue.first_pending;
  totals->pending += pending;
  ReportError(FormatText("Unable to replay %s: DbRelayReplay --reject-first stopped while it moved "
                         "its record %llu (byte %llu) to %s.rejected, so that record may stand "
                         "there already. Run DbRelayReplay --reject-first %s again to finish.\n"
                         "Nothing of it was run; see DbRelayReplay(1).\n",
                         path.c_str(), U(queue.first_pending + 1), U(first.start), path.c_str(),
                         path.c_str()),
              Mailing::kAllowed);
  Print(FormatText("%s: 0 replayed, %llu pending\n", path.c_str(), U(pending)));
  return kExitStatementFailed;
}

int QueueReplay::Replay(const std::string& path, ReplayTotals* totals) {
  ++totals->files;
  uint64_t replayed = 0;
  // Records parked while this runs are taken in the next round; the file goes once a round finds
  // nothing new. The bound only guards against a file that grows for ever.
  for (int round = 0; round < 1000; ++round) {
    Queue queue;
    int status = Prepare(path, true, &queue);
    if (status == kExitNothingPending) status = StopAtUnfinishedRejection(queue, totals);
    if (status != kExitNothingPending) {
      totals->replayed += replayed;  // what earlier rounds ran
      return status;
    }
    // Counted on from earlier rounds, so that a stop in this one tells the file's whole count.
    queue.replayed = replayed;
    if (status = RunPending(&queue, totals); status != kExitNothingPending) return status;
    replayed = queue.replayed;

    bool removed = false;
    bool grew = false;
    if (Status s = queue.snapshot.RemoveIfUnchanged(&removed, &grew); !s.ok()) {
      totals->replayed += replayed;
      return ReportInputOutput(path, "remove it now that every record has run", s);
    }
    if (grew) continue;
    totals->replayed += replayed;
    if (Status s = RemoveReplayedMark(path); !s.ok()) {
      return ReportInputOutput(path, "remove its mark", s);
    }
    if (!removed) {
      // Someone took the file away while it ran. Its queue's row stays: if the file was only
      // renamed, the row is what keeps its statements from running again under the new name.
      Print(FormatText("%s: %llu replayed, 0 pending; the file was removed or renamed meanwhile, "
                       "so the ledger keeps its queue %s\n",
                       path.c_str(), U(replayed), queue.snapshot.queue_id().c_str()));
      return kExitNothingPending;
    }
    // Anything naming this queue now names one that no file has any more: harmless if left.
    (void)RemoveRejectIntent(path);
    // A row left behind by a failure here names a queue that no file has any more: harmless.
    if (!queue.snapshot.queue_id().empty()) (void)ledger_.Forget(queue.snapshot.queue_id());
    Print(FormatText("%s: %llu replayed, 0 pending\n", path.c_str(), U(replayed)));
    return kExitNothingPending;
  }
  totals->replayed += replayed;
  Print(FormatText("%s: %llu replayed; more records keep arriving, left for the next run\n",
                   path.c_str(), U(replayed)));
  return kExitNothingPending;
}

int QueueReplay::List(const std::string& path, ReplayTotals* totals) {
  ++totals->files;
  Queue queue;
  if (int status = Prepare(path, false, &queue); status != kExitNothingPending) return status;
  const std::vector<RecordSpan>& records = queue.snapshot.records();
  const size_t pending = records.size() - queue.first_pending;
  totals->pending += pending;
  if (queue.progress_unknown) {
    Print(FormatText("%s: %llu records, some of which may already have run: the ledger that says "
                     "which is in the primary, which cannot be opened\n",
                     path.c_str(), U(pending)));
  } else {
    Print(FormatText("%s: %llu pending\n", path.c_str(), U(pending)));
  }
  for (size_t i = queue.first_pending; i < records.size(); ++i) {
    if (i < queue.batch_first || i >= queue.batch_first + queue.statements.size()) {
      if (int status = LoadBatch(&queue, i, BatchEnd(records, i));
          status != kExitNothingPending) {
        return status;
      }
    }
    // A comment line before each statement: the listing reads as the script it is.
    Print(FormatText("-- record %llu at byte %llu\n", U(i + 1), U(records[i].start)) +
          queue.statements[i - queue.batch_first] + "\n");
  }
  return kExitNothingPending;
}

int QueueReplay::RecordStandsAt(const std::string& path, uint64_t start,
                                const std::string& statement, bool* stands) {
  *stands = false;
  Queue aside;
  Status s = aside.snapshot.Take(path);
  if (s.code() == ENOENT) return kExitNothingPending;
  if (!s.ok()) return ReportInputOutput(path, "read it", s);
  if (!aside.snapshot.problem().empty()) return ReportUncertain(path, aside.snapshot.problem());
  const std::vector<RecordSpan>& records = aside.snapshot.records();
  auto at = std::lower_bound(records.begin(), records.end(), start,
                             [](const RecordSpan& r, uint64_t offset) { return r.start < offset; });
  if (at == records.end() || at->start != start) return kExitNothingPending;
  const size_t index = static_cast<size_t>(at - records.begin());
  if (int status = LoadBatch(&aside, index, index + 1); status != kExitNothingPending) {
    return status;
  }
  *stands = aside.statements.front() == statement;
  return kExitNothingPending;
}

int QueueReplay::RejectFirst(const std::string& path) {
  Queue queue;
  if (int status = Prepare(path, true, &queue); status != kExitNothingPending) return status;
  const std::vector<RecordSpan>& records = queue.snapshot.records();
  if (queue.first_pending >= records.size()) {
    Print(FormatText("%s: nothing pending, nothing moved\n", path.c_str()));
    return kExitNothingPending;
  }
  const RecordSpan& first = records[queue.first_pending];
  const std::string rejected = path + ".rejected";
  if (int status = LoadBatch(&queue, queue.first_pending, queue.first_pending + 1);
      status != kExitNothingPending) {
    return status;
  }
  const std::string& statement = queue.statements.front();

  // Saved aside before it is marked done, and said so durably first: a rejection stopped in
  // between is finished by the next one, which appends the record only if it is not there yet.
  RejectIntent intent;
  bool unfinished = false;
  if (Status s = ReadRejectIntent(path, &intent, &unfinished); !s.ok()) {
    return ReportInputOutput(RejectIntentPathOf(path), "read it", s);
  }
  const bool this_queue = unfinished && intent.queue_id == queue.snapshot.queue_id();
  if (this_queue && intent.record_start < first.start) {
    // The ledger moved past it, so that rejection was done and only stopped before it tidied
    // up: run again "to finish", it must not take the next record too.
    (void)RemoveRejectIntent(path);
    Print(FormatText("%s: the record at byte %llu was moved to %s already; nothing more moved, "
                     "%llu pending\n",
                     path.c_str(), U(intent.record_start), rejected.c_str(),
                     U(records.size() - queue.first_pending)));
    return kExitNothingPending;
  }
  unfinished = this_queue && intent.record_start == first.start;
  bool appended = false;
  if (unfinished) {
    if (int status = RecordStandsAt(rejected, intent.rejected_start, statement, &appended);
        status != kExitNothingPending) {
      return status;
    }
  }
  if (!appended) {
    // Where the record will start: after the whole records of the .rejected file (an append
    // takes off what a killed one left).
    QueueSnapshot aside;
    Status s = aside.Take(rejected);
    if (!s.ok() && s.code() != ENOENT) return ReportInputOutput(rejected, "read it", s);
    if (s.ok() && !aside.problem().empty()) return ReportUncertain(rejected, aside.problem());
    intent = RejectIntent{queue.snapshot.queue_id(), first.start, s.ok() ? aside.whole_end() : 0};
    if (s = WriteRejectIntent(path, intent); !s.ok()) {
      return ReportInputOutput(RejectIntentPathOf(path), "write it", s);
    }
    if (int code = AppendStatementToTextFile(rejected, statement); code != 0) {
      return ReportInputOutput(rejected, "append to it", Status::FromErrno(code, "append"));
    }
  }
  // The error of the step that failed, taken before a rollback can put its own in its place.
  std::string error_text;
  bool done = database_->BeginTransaction() != 0;
  if (!done) {
    error_text = database_->GetLastErrorText();
  } else if (!ledger_.Advance(queue.snapshot.queue_id(), first.start, first.end(),
                              queue.first_pending + 1)) {
    done = false;
    error_text = ledger_.error_text();
    (void)database_->RollbackTransaction();
  } else if (database_->CommitTransaction() == 0) {
    done = false;
    error_text = database_->GetLastErrorText();
  }
  if (!done) {
    return ReportDatabaseFailure(queue, "the ledger cannot be moved past its first record",
                                 error_text);
  }
  // Left behind, it names a record the ledger has passed, and is ignored.
  (void)RemoveRejectIntent(path);
  Print(FormatText("%s: record %llu (byte %llu) moved to %s; %llu pending\n", path.c_str(),
                   U(queue.first_pending + 1), U(first.start), rejected.c_str(),
                   U(records.size() - queue.first_pending - 1)));
  return kExitNothingPending;
}

}  // namespace dbrelay::replay
