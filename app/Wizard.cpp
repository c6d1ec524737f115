#include "app/Wizard.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/Host.h"
#include "db/Probe.h"

#include <QCoreApplication>

namespace app {

Wizard::Wizard(Host& host, db::SettingsStore& store, std::chrono::seconds loginTimeout)
    : host_(host), store_(store), loginTimeout_(loginTimeout) {}

// The pages go in the reverse order of their making.
Wizard::~Wizard() {
    form4_.reset();
    form3_.reset();
    form2_.reset();
    form1_.reset();
}

void Wizard::start() {
    runOperation([this] {
        Form1& connection = form1();
        if (MSSQL::CanConnect(connection.settings(), loginTimeout_))
            show(form2());
        else
            show(connection);
    });
}

Form1& Wizard::form1() {
    if (!form1_) {
        form1_ = std::make_unique<Form1>(*this);
        form1_->load();
    }
    return *form1_;
}

Form2& Wizard::form2() {
    if (!form2_) {
        form2_ = std::make_unique<Form2>(*this);
        runOperation([this] { form2_->load(); });
    }
    return *form2_;
}

Form3& Wizard::form3() {
    if (!form3_) {
        form3_ = std::make_unique<Form3>(*this);
        form3_->load();
    }
    return *form3_;
}

Form4& Wizard::form4() {
    if (!form4_) {
        form4_ = std::make_unique<Form4>(*this);
        form4_->load();
    }
    return *form4_;
}

db::ConnectionSettings Wizard::connectionSettings() {
    return form1().settings();
}

void Wizard::show(QWidget& page) {
    page.show();
    page.activateWindow();
}

void Wizard::move(QWidget& from, QWidget& to) {
    show(to);
    from.hide();
}

void Wizard::runAction(const std::function<void()>& action) {
    if (busy() || ended_)
        return;
    runOperation(action);
}

void Wizard::runOperation(const std::function<void()>& work) {
    ++depth_;
    try {
        work();
    } catch (const ProgramEnding&) {
        --depth_;
        if (depth_ > 0)
            throw;
        finish();
        return;
    }
    --depth_;
    if (depth_ == 0 && endRequested_)
        finish();
}

void Wizard::endProgram() {
    if (ended_)
        return;
    if (busy()) {
        endRequested_ = true;
        return;
    }
    finish();
}

void Wizard::finish() {
    if (ended_)
        return;
    ended_ = true;
    host_.endProgram();
}

bool Wizard::serviceDue() const {
    return !sinceService_.isValid() ||
           sinceService_.elapsed() >= static_cast<qint64>(kServiceInterval.count());
}

void Wizard::yieldIfDue() {
    if (serviceDue())
        serve();
}

void Wizard::serve() {
    QCoreApplication::processEvents();
    sinceService_.start();
    if (endRequested_)
        throw ProgramEnding{};
}

} // namespace app
