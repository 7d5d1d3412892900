#include "platform/wx/popup_menu.h"
#include "platform/wx/gobject_ptr.h"
#include "platform/wx/wxtext.h"

#include <gtk/gtk.h>
#include <wx/window.h>

struct CPopupMenu::CState {
    GtkWidget* owner = nullptr;
    GObjectPtr<GtkWidget> menu;
    std::vector<std::function<void()>> actions; // of the items shown, in their order
};

namespace {
// The toolkit marks a mnemonic with "_", and shows "__" as one "_".
std::string MnemonicLabel(std::u16string_view label) {
    std::u16string marked;
    for (char16_t c : label) {
        if (c == u'_')
            marked += u"__";
        else
            marked += c == u'&' ? u'_' : c;
    }
    return ToWx(marked).utf8_string();
}

const char kIndexKey[] = "pm-popup-index";

void OnActivate(GtkMenuItem* item, gpointer data) {
    auto* state = static_cast<CPopupMenu::CState*>(data);
    const size_t index = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(item), kIndexKey));
    if (index < state->actions.size()) {
        // A copy: the action may show the menu again, which replaces the list.
        const std::function<void()> action = state->actions[index];
        if (action)
            action();
    }
}
} // namespace

CPopupMenu::CPopupMenu(wxWindow* pOwner) : m_pState(std::make_unique<CState>()) {
    m_pState->owner = static_cast<GtkWidget*>(pOwner->GetHandle());
    m_pState->menu.reset(GTK_WIDGET(g_object_ref_sink(gtk_menu_new())));
    gtk_menu_attach_to_widget(GTK_MENU(m_pState->menu.get()), m_pState->owner, nullptr);
}

CPopupMenu::~CPopupMenu() {
    gtk_widget_destroy(m_pState->menu.get()); // closes it and detaches it from the owner
}

void CPopupMenu::Show(std::vector<CItem> items, const wxPoint& where) {
    GtkWidget* menu = m_pState->menu.get();
    gtk_menu_popdown(GTK_MENU(menu));
    GList* old = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* item = old; item; item = item->next)
        gtk_widget_destroy(GTK_WIDGET(item->data));
    g_list_free(old);

    m_pState->actions.clear();
    for (CItem& shown : items) {
        GtkWidget* item = gtk_menu_item_new_with_mnemonic(MnemonicLabel(shown.label).c_str());
        gtk_widget_set_sensitive(item, shown.bEnabled);
        g_object_set_data(G_OBJECT(item), kIndexKey, GSIZE_TO_POINTER(m_pState->actions.size()));
        g_signal_connect(item, "activate", G_CALLBACK(OnActivate), m_pState.get());
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
        m_pState->actions.push_back(std::move(shown.action));
    }
    gtk_widget_show_all(menu);

    // The event that asked for the menu lets the toolkit tell a click from a drag.
    const std::unique_ptr<GdkEvent, void (*)(GdkEvent*)> trigger(gtk_get_current_event(),
                                                                 gdk_event_free);
    if (where == wxDefaultPosition) {
        gtk_menu_popup_at_pointer(GTK_MENU(menu), trigger.get());
    } else {
        g_object_set(menu, "rect-anchor-dx", where.x, "rect-anchor-dy", where.y, nullptr);
        gtk_menu_popup_at_widget(GTK_MENU(menu), m_pState->owner, GDK_GRAVITY_NORTH_WEST,
                                 GDK_GRAVITY_NORTH_WEST, trigger.get());
    }
}

bool CPopupMenu::IsShown() const {
    return gtk_widget_get_visible(m_pState->menu.get());
}
