// Who may open which door when: schedules, holidays, groups and people with
// their cards, saved together under one policy revision.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/errors.h"
#include "model/policy.h"

namespace doorlinkd {

class Database;
class Tx;

// The policy as saved at one revision, with the card rows beside it.
struct PolicyAt {
    Policy policy;
    int64_t revision = 0;
};

// The policy was saved by someone else since the revision a change was
// checked on: the change is checked again on the new one.
class PolicyMoved : public Stale {
public:
    using Stale::Stale;
};

// Whether a read of the policy reads the card rows too. Without them the
// policy's cards are empty: a caller that needs the rows of one controller
// reads those alone (ControllerStore::controller_cards_at).
enum class CardRowsRead { all, none };

// A person as a list names them beside a card or a record.
struct PersonName {
    std::string id;
    std::string name;
};

class PolicyStore {
public:
    virtual ~PolicyStore() = default;

    // The whole policy (in name and id order) with the card rows and the
    // revision, read at one moment.
    virtual PolicyAt policy(CardRowsRead rows) = 0;
    PolicyAt policy() { return policy(CardRowsRead::all); }
    // The policy as it was saved at revision (0 to the current one), with
    // the card rows as they were then (none before the schema kept their
    // versions), and without the people erased since; NotFound for another.
    virtual PolicyAt policy_at(int64_t revision, CardRowsRead rows) = 0;
    PolicyAt policy_at(int64_t revision) { return policy_at(revision, CardRowsRead::all); }
    virtual int64_t policy_revision() = 0;
    // The people who hold the cards now, by card; a card of no one's is
    // absent.
    virtual std::map<std::string, PersonName> card_holders(const std::vector<std::string>& cards) = 0;
    // The names of the people of these ids now, by id; an id of no one's is
    // absent.
    virtual std::map<std::string, std::string> person_names(const std::vector<std::string>& ids) = 0;
    // Saves the edit as the next revision and returns it. Throws PolicyMoved
    // when the revision is no longer basedOn, Stale when a value changed
    // since the revision its change names, NotFound for a value to change or
    // remove that is not there, and Refused for a value added that is there,
    // or a person's card that is a card row (or another person's).
    virtual int64_t save_policy(const PolicyEdit& edit) = 0;
};

// Locks the policy's revision for the transaction, so that the policy and
// what stands beside it (card rows) change one writer at a time, and returns
// it.
int64_t lock_policy_revision(Tx& tx);
// Moves the policy's revision on from the one locked; returns the new one.
int64_t next_policy_revision(Tx& tx, int64_t locked);

class SqlPolicy : public virtual PolicyStore {
public:
    explicit SqlPolicy(Database& database) : db_(database) {}

    PolicyAt policy(CardRowsRead rows) override;
    PolicyAt policy_at(int64_t revision, CardRowsRead rows) override;
    int64_t policy_revision() override;
    std::map<std::string, PersonName> card_holders(const std::vector<std::string>& cards) override;
    std::map<std::string, std::string> person_names(const std::vector<std::string>& ids) override;
    int64_t save_policy(const PolicyEdit& edit) override;

private:
    Database& db_;
};

}  // namespace doorlinkd
