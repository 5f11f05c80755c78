// Embedding support for an ActiveX control: the interfaces a control
// container (a browser page, a dialog host) expects, as mixins for
// ComObject<Derived, ...>, plus OleControlBase<Derived>, the one place that
// holds the state they share and the control's window.
//
//   class Ctl : public comfw::ComObject<Ctl,
//                   comfw::DispatchFromTypeLib<IMyControl>,
//                   comfw::ViewObjectExImpl<Ctl>,               // IViewObjectEx, 2, 1
//                   comfw::OleInPlaceObjectWindowlessImpl<Ctl>, // + IOleInPlaceObject, IOleWindow
//                   comfw::OleInPlaceActiveObjectImpl<Ctl>,
//                   comfw::OleControlImpl<Ctl>,                 // IOleControl
//                   comfw::OleObjectImpl<Ctl>,
//                   comfw::PersistStreamInitImpl<Ctl>,          // + IPersist
//                   comfw::SpecifyPropertyPagesImpl<Ctl>,
//                   comfw::QuickActivateImpl<Ctl>,
//                   comfw::PersistStorageImpl<Ctl>,
//                   comfw::DataObjectImpl<Ctl>,
//                   comfw::ProvideClassInfo2Impl<&CLSID_Ctl, &DIID_CtlEvents>,
//                   comfw::ConnectionPointContainerImpl<&DIID_CtlEvents>,
//                   comfw::ObjectSafetyImpl<Ctl>,
//                   comfw::PersistPropertyBagImpl<Ctl>>,
//               public comfw::OleControlBase<Ctl> {
//   public:
//       static const CLSID& class_id() noexcept { return CLSID_Ctl; }
//       static comfw::PropertyMap<Ctl> property_map() noexcept {
//           static const comfw::PropertyEntry<Ctl> entries[] = {
//               comfw::ExtentWidthProperty<Ctl>(L"_cx"), comfw::ExtentHeightProperty<Ctl>(L"_cy")};
//           return comfw::PropertyMap<Ctl>(entries);
//       }
//       // Optional hooks, each public; the base's defaults do nothing.
//       LRESULT OnControlMessage(UINT msg, WPARAM, LPARAM, bool& handled) noexcept;
//       HRESULT OnDraw(HDC dc, const RECT& bounds) noexcept;
//       void OnAmbientChanged(DISPID id) noexcept;
//       // static constexpr DWORD kViewStatus = ...;  (opaque, solid by default)
//   };
//
// What Derived provides:
//   - class_id(): its CLSID; verbs, user type, data formats and the
//     miscellaneous status are read from that class's registry entries.
//   - property_map(): the values the three persistence interfaces load and
//     save (oleControlProperties.h).
//   - the module's TYPELIB 1 resource with the coclass, for
//     IProvideClassInfo2 (typeLib.h).
// What it gets (OleControlBase): hwnd() once in place; client_site(),
// extent(), in_place_active(), ambient(dispid, &v), set_dirty(),
// view_changed(), events_frozen() and the rest of oleControlBase.h.
//
// Life of the window: DoVerb (INPLACEACTIVATE, UIACTIVATE, SHOW, PRIMARY)
// creates it as a child of the in-place site's window at the site's position
// rectangle with style WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS |
// WS_CLIPCHILDREN; SetObjectRects moves it; InPlaceDeactivate and Close
// destroy it. Its messages reach OnControlMessage first; what that leaves
// unhandled gets WM_PAINT (OnDraw between BeginPaint and EndPaint), UI
// activation on WM_SETFOCUS and WM_MOUSEACTIVATE, IOleControlSite::OnFocus on
// focus changes, then DefWindowProc.
//
// The order of the list is the order QueryInterface searches; the control
// object answers IUnknown with its first entry.
#pragma once

#include "comfw/comObject.h"
#include "comfw/connectionPoint.h"
#include "comfw/dispatch.h"
#include "comfw/oleControlBase.h"
#include "comfw/oleControlData.h"
#include "comfw/oleControlInPlace.h"
#include "comfw/oleControlInfo.h"
#include "comfw/oleControlObject.h"
#include "comfw/oleControlPersist.h"
#include "comfw/oleControlProperties.h"
#include "comfw/oleControlSite.h"
#include "comfw/oleControlView.h"
