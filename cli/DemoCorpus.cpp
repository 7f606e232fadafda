#include "cli/DemoCorpus.h"

#include "util/Log.h"

#include <array>

namespace {

struct Kind {
    const char* folder;
    std::vector<const char*> senders;
    std::vector<const char*> subjects;
    std::vector<const char*> openings;
    std::vector<const char*> middles;
    std::vector<const char*> closings;
};

const std::vector<Kind>& kinds() {
    static const std::vector<Kind> all = {
        {"Invoices",
         {"Northwind Billing <billing@northwind.example>", "Acme Accounts <accounts@acme.example>",
          "City Power <invoices@citypower.example>"},
         {"Invoice %d for your account", "Your invoice no. %d is ready",
          "Payment reminder: invoice %d", "Statement of account %d"},
         {"Please find attached invoice %d for services rendered last month.",
          "Your monthly statement (invoice %d) is now available.",
          "This is a friendly reminder that invoice %d is still open."},
         {"The amount due is EUR %d.40, payable within 14 days.",
          "Total amount due: %d.00 USD. Please pay by bank transfer.",
          "Payment of %d.99 is due by the end of the month; reference the invoice number."},
         {"Thank you for your business.", "If you have already paid, please ignore this reminder.",
          "Questions about billing? Reply to this message."}},
        {"Travel",
         {"SkyWays <noreply@skyways.example>", "Hotel Lindenhof <booking@lindenhof.example>",
          "RailEurope Desk <tickets@rail.example>"},
         {"Your booking confirmation %d", "Flight itinerary for trip %d",
          "Hotel reservation %d confirmed", "Check-in now open for booking %d"},
         {"Thank you for booking with us: your reference is %d.",
          "Your flight itinerary for booking %d is below.",
          "We are pleased to confirm your hotel reservation %d."},
         {"Departure from gate %d at 07:45, boarding closes 20 minutes before departure.",
          "Your room is booked for %d nights; check-in from 15:00.",
          "Seat %dA is reserved for you on the train; your e-ticket is attached."},
         {"Have a pleasant trip.", "Manage your booking online at any time.",
          "We look forward to welcoming you."}},
        {"Newsletters",
         {"Garden Weekly <news@gardenweekly.example>", "Tech Digest <digest@techdigest.example>",
          "Cooking Club <letters@cookingclub.example>"},
         {"This week's newsletter, issue %d", "Weekly digest no. %d", "Our top stories of week %d",
          "News and offers, edition %d"},
         {"Welcome to issue %d of our weekly newsletter.",
          "Here are the most read stories of week %d.",
          "In this edition (%d): seasonal tips and news."},
         {"Read %d new articles on our website, plus a special offer for subscribers.",
          "Top story: %d ways to get more from your weekend.",
          "Subscribers save %d percent this week only."},
         {"You receive this newsletter because you subscribed. Unsubscribe at any time.",
          "To unsubscribe, follow the link at the bottom of this mail.",
          "Manage your subscription or unsubscribe in your profile."}},
        {"Support",
         {"Helpdesk <support@helpdesk.example>", "Jana Novak <jana.novak@customer.example>",
          "Service Desk <tickets@servicedesk.example>"},
         {"Ticket #%d: application crashes on start", "Re: support ticket %d",
          "Error %d when saving the report", "Help needed with login (ticket %d)"},
         {"Our support team has opened ticket %d for your request.",
          "I get an error message (code %d) every time I save.",
          "The program crashed again this morning, see ticket %d."},
         {"Steps to reproduce: open the file, press save, error %d appears.",
          "The crash happens after %d seconds; the log file is attached.",
          "We are looking into the problem and will update ticket %d soon."},
         {"Please help, this blocks my work.", "Kind regards, your support team.",
          "Reply to this message to add information to the ticket."}},
    };
    return all;
}

unsigned nextRandom(unsigned& state) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7FFF;
}

template <class T> const T& pick(const std::vector<T>& items, unsigned& state) {
    return items[nextRandom(state) % items.size()];
}

std::string fill(const char* pattern, int number) {
    return formatString(pattern, number);
}

} // namespace

std::vector<DemoMessage> demoMessages(int perFolder, unsigned seed) {
    std::vector<DemoMessage> messages;
    unsigned state = seed;
    static const std::array<const char*, 7> days = {"Mon", "Tue", "Wed", "Thu",
                                                    "Fri", "Sat", "Sun"};
    for (int i = 0; i < perFolder; ++i) {
        for (const Kind& kind : kinds()) {
            int number = 1000 + static_cast<int>(nextRandom(state) % 9000);
            std::string subject = fill(pick(kind.subjects, state), number);
            std::string opening = fill(pick(kind.openings, state), number);
            std::string middle =
                fill(pick(kind.middles, state), 2 + static_cast<int>(nextRandom(state) % 90));
            std::string closing = pick(kind.closings, state);
            bool html = (i + static_cast<int>(messages.size())) % 2 == 1;
            int day = 1 + static_cast<int>(nextRandom(state) % 28);
            std::string text = "From: " + std::string(pick(kind.senders, state)) + "\n" +
                               "To: Sam Reader <sam@home.example>\n" + "Subject: " + subject +
                               "\n" +
                               formatString("Date: %s, %02d Nov 2026 %02d:%02d:00 +0100\n",
                                            days[static_cast<std::size_t>(day % 7)], day,
                                            8 + day % 10, (day * 7) % 60) +
                               formatString("Message-ID: <demo-%u-%d-%zu@brevalo.example>\n", seed,
                                            i, messages.size()) +
                               "MIME-Version: 1.0\n";
            if (html) {
                text += "Content-Type: text/html; charset=utf-8\n\n"
                        "<html><body><p>Hello Sam,</p><p>" +
                        opening + "</p><p><b>" + middle + "</b></p><p>" + closing +
                        "</p></body></html>\n";
            } else {
                text += "Content-Type: text/plain; charset=utf-8\n\nHello Sam,\n\n" + opening +
                        "\n" + middle + "\n\n" + closing + "\n";
            }
            messages.push_back({kind.folder, text});
        }
    }
    return messages;
}

std::vector<DemoStimulation> demoStimulations() {
    return {
        {"money", {"invoice", "amount due", "payment", "statement of account"}},
        {"trip", {"booking", "flight", "hotel", "itinerary", "check-in"}},
        {"subscription", {"newsletter", "unsubscribe", "weekly", "subscriber"}},
        {"trouble", {"ticket", "error", "crash", "help"}},
    };
}

std::vector<DemoFolder> demoFolders() {
    return {
        {"Invoices", "Thank you, your invoice has been passed to accounting.", {}},
        {"Travel", "", {}},
        {"Newsletters", "", {}},
        {"Support", "We have received your request and will answer within one working day.", {}},
    };
}
