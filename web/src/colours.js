// The view's colours, which the legend beside it shows too; apart from the
// view's code, so the page has them before the view is first needed.
// One colour per material number, told apart also by readers with the
// commonest colour blindness; none is close to the warning red. Each stands
// at least 3:1 against both canvas backgrounds, light and dark.
export const PALETTE = [
  '#3b6a9e', '#c0620a', '#3f8a37', '#9a5a8c', '#2f8480',
  '#8c7400', '#935f40', '#6e6a66', '#c8405a', '#5b5fc7',
];
export const WARNING = '#d00000';
